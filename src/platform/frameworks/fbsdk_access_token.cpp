#include "platform/frameworks/fbsdk_access_token.h"

#include <mutex>
#include <sstream>
#include <utility>
#include <vector>

#include "platform/keychain/keychain_store.h"
#include "platform/keychain/unsaved_sign_in.h"

namespace {

std::mutex& currentMutex() {
  static auto* mutex = new std::mutex;
  return *mutex;
}

std::shared_ptr<FBSDKAccessToken>& currentToken() {
  static auto* token = new std::shared_ptr<FBSDKAccessToken>;
  return *token;
}

bool& cacheStarted() {
  static bool started = false;
  return started;
}

const KeychainQuery kCacheItem{"dorvale.facebook.token-cache", "current", std::nullopt, std::nullopt};

// The next launch is signed in with Facebook through the cache alone.
std::shared_ptr<KeychainStore> cacheStore() {
  static const bool noted = (KeychainStore::noteHoldsSignIn(kCacheItem.service, kCacheItem.account), true);
  (void)noted;
  return KeychainStore::current();
}

std::string joined(const std::set<std::string>& names) {
  std::string list;
  for (const auto& name : names) list += (list.empty() ? "" : ",") + name;
  return list;
}

std::set<std::string> split(const std::string& list) {
  std::set<std::string> names;
  std::stringstream in(list);
  for (std::string name; std::getline(in, name, ',');)
    if (!name.empty()) names.insert(name);
  return names;
}

// One field a line: token, user, app, expiry (seconds since the reference date, or empty),
// permissions, declined permissions.
void keep(const std::shared_ptr<FBSDKAccessToken>& token) {
  auto store = cacheStore();
  store->remove(kCacheItem);
  if (!token || token->tokenString().find('\n') != std::string::npos) return;
  const auto& expiry = token->expirationDate();
  const std::string text = token->tokenString() + "\n" + token->userID() + "\n" + token->appID() + "\n" +
                           (expiry ? std::to_string(expiry->timeIntervalSinceReferenceDate) : "") + "\n" +
                           joined(token->permissions()) + "\n" + joined(token->declinedPermissions());
  KeychainItem item;
  item.service = kCacheItem.service;
  item.account = kCacheItem.account;
  item.data = Data::fromString(text);
  if (store->add(item) != errSecSuccess) reportUnsavedSignIn();
}

std::shared_ptr<FBSDKAccessToken> kept() {
  KeychainItem item;
  if (cacheStore()->copyMatching(kCacheItem, &item) != errSecSuccess) return nullptr;
  std::vector<std::string> fields;
  std::stringstream in(item.data.toString());
  for (std::string field; std::getline(in, field);) fields.push_back(field);
  fields.resize(6);
  if (fields[0].empty()) return nullptr;
  std::optional<Date> expiry;
  if (!fields[3].empty()) expiry = Date{std::atof(fields[3].c_str())};
  return std::make_shared<FBSDKAccessToken>(fields[0], split(fields[4]), split(fields[5]), fields[2], fields[1],
                                            expiry);
}

}  // namespace

FBSDKAccessToken::FBSDKAccessToken(std::string tokenString, std::set<std::string> permissions,
                                   std::set<std::string> declinedPermissions, std::string appID, std::string userID,
                                   std::optional<Date> expirationDate)
    : tokenString_(std::move(tokenString)),
      permissions_(std::move(permissions)),
      declinedPermissions_(std::move(declinedPermissions)),
      appID_(std::move(appID)),
      userID_(std::move(userID)),
      expirationDate_(expirationDate) {}

std::shared_ptr<FBSDKAccessToken> FBSDKAccessToken::currentAccessToken() {
  std::lock_guard lock(currentMutex());
  return currentToken();
}

void FBSDKAccessToken::setCurrentAccessToken(std::shared_ptr<FBSDKAccessToken> token) {
  std::shared_ptr<FBSDKAccessToken> previous;
  std::lock_guard lock(currentMutex());
  // The old token is released after the lock, in case its owner does more on destruction.
  previous = std::exchange(currentToken(), std::move(token));
  if (cacheStarted()) keep(currentToken());
}

void FBSDKAccessToken::startTokenCache() {
  std::lock_guard lock(currentMutex());
  cacheStarted() = true;
  if (!currentToken()) currentToken() = kept();
}
