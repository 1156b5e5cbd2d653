#include "toolkit/oauth2_keychain.h"

#include <mutex>

#include "platform/foundation/text.h"

namespace {

std::mutex defaultMutex;
std::shared_ptr<ZSDK_ZTKOAuth2Keychain> defaultInstance;

bool report(OSStatus status, std::optional<NSError>* error) {
  if (status == errSecSuccess) return true;
  if (error) *error = NSError(kZTKOAuthKeychainErrorDomain, status);
  return false;
}

}  // namespace

std::shared_ptr<ZSDK_ZTKOAuth2Keychain> ZSDK_ZTKOAuth2Keychain::defaultKeychain() {
  std::lock_guard lock(defaultMutex);
  if (!defaultInstance) defaultInstance = std::make_shared<ZSDK_ZTKOAuth2Keychain>();
  return defaultInstance;
}

void ZSDK_ZTKOAuth2Keychain::setDefaultKeychain(std::shared_ptr<ZSDK_ZTKOAuth2Keychain> keychain) {
  std::lock_guard lock(defaultMutex);
  defaultInstance = std::move(keychain);
}

KeychainQuery ZSDK_ZTKOAuth2Keychain::keychainQueryForService(const std::string& service, const std::string& account) {
  return KeychainQuery{service, account, std::string(kZTKOAuthKeychainGeneric), std::nullopt};
}

std::optional<std::string> ZSDK_ZTKOAuth2Keychain::passwordForService(const std::string& service,
                                                                      const std::string& account,
                                                                      std::optional<NSError>* error) const {
  if (service.empty() || account.empty()) {
    report(kZTKOAuthKeychainErrorNoPassword, error);
    return std::nullopt;
  }
  KeychainItem item;
  if (!report(SecItemCopyMatching(keychainQueryForService(service, account), &item), error)) return std::nullopt;
  std::string text = item.data.toString();
  if (text.empty() || !isValidUTF8(text)) return std::nullopt;
  return text;
}

bool ZSDK_ZTKOAuth2Keychain::setPassword(const std::string& password, const std::string& service,
                                         const std::optional<std::string>& accessibility, const std::string& account,
                                         std::optional<NSError>* error) const {
  if (service.empty() || account.empty()) return report(kZTKOAuthKeychainErrorNoPassword, error);
  const auto query = keychainQueryForService(service, account);
  if (password.empty()) {
    SecItemDelete(query);
    return report(kZTKOAuthKeychainErrorNoPassword, error);
  }
  KeychainItem item;
  item.service = service;
  item.account = account;
  item.data = Data::fromString(password);
  item.generic = kZTKOAuthKeychainGeneric;
  if (accessibility) item.accessibility = *accessibility;
  OSStatus status = SecItemAdd(item);
  // An update replaces the item in one step where deleting first would lose it to a failed add.
  if (status == errSecDuplicateItem) {
    KeychainAttributes replacement;
    replacement.data = item.data;
    replacement.accessibility = accessibility;
    status = SecItemUpdate(query, replacement);
  }
  return report(status, error);
}

bool ZSDK_ZTKOAuth2Keychain::removePasswordForService(const std::string& service, const std::string& account,
                                                      std::optional<NSError>* error) const {
  if (service.empty() || account.empty()) return report(kZTKOAuthKeychainErrorNoPassword, error);
  return report(SecItemDelete(keychainQueryForService(service, account)), error);
}

std::string ZSDK_ZTKOAuth2Keychain::keyForService(const std::string& service, const std::string& account) const {
  return "com.zedodo.ZTKOAuth." + service + account;
}
