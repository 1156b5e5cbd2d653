#include "platform/keychain/keychain_store.h"

#include <set>
#include <utility>

#include "platform/keychain/file_keychain_store.h"

namespace {

std::mutex currentMutex;
std::shared_ptr<KeychainStore> currentStore;

std::mutex signInItemsMutex;
std::set<std::pair<std::string, std::string>> signInItems;

// Each call answers on the thread that made it, so its reason goes with that thread.
thread_local std::optional<KeychainFailure> failureOfThisThread;

}  // namespace

std::optional<KeychainItem> KeychainStore::find(const KeychainQuery& query) {
  auto item = load(query.service, query.account);
  if (item && !query.matches(*item)) return std::nullopt;
  return item;
}

OSStatus KeychainStore::add(const KeychainItem& item) {
  failureOfThisThread.reset();
  std::lock_guard lock(mutex_);
  // Service and account alone make the key: an item that differs only in other attributes is
  // still a duplicate.
  if (load(item.service, item.account)) return errSecDuplicateItem;
  return save(item);
}

OSStatus KeychainStore::copyMatching(const KeychainQuery& query, KeychainItem* result) {
  std::lock_guard lock(mutex_);
  auto item = find(query);
  if (!item) return errSecItemNotFound;
  if (result) *result = std::move(*item);
  return errSecSuccess;
}

OSStatus KeychainStore::update(const KeychainQuery& query, const KeychainAttributes& attributes) {
  failureOfThisThread.reset();
  if (attributes.empty()) return errSecParam;
  std::lock_guard lock(mutex_);
  auto item = find(query);
  if (!item) return errSecItemNotFound;
  attributes.applyTo(*item);
  return save(*item);
}

OSStatus KeychainStore::remove(const KeychainQuery& query) {
  failureOfThisThread.reset();
  std::lock_guard lock(mutex_);
  if (!find(query)) return errSecItemNotFound;
  return erase(query.service, query.account);
}

std::optional<KeychainFailure> KeychainStore::lastFailure() { return failureOfThisThread; }

void KeychainStore::noteFailure(KeychainFailure failure) { failureOfThisThread = std::move(failure); }

std::shared_ptr<KeychainStore> KeychainStore::current() {
  std::lock_guard lock(currentMutex);
  if (!currentStore) currentStore = std::make_shared<FileKeychainStore>(FileKeychainStore::defaultDirectory());
  return currentStore;
}

void KeychainStore::setCurrent(std::shared_ptr<KeychainStore> store) {
  std::lock_guard lock(currentMutex);
  currentStore = std::move(store);
}

void KeychainStore::noteHoldsSignIn(const std::string& service, const std::string& account) {
  std::lock_guard lock(signInItemsMutex);
  signInItems.emplace(service, account);
}

bool KeychainStore::holdsSignIn(const std::string& service, const std::string& account) {
  std::lock_guard lock(signInItemsMutex);
  return signInItems.count({service, account}) != 0;
}
