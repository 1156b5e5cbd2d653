#include "platform/keychain/keychain_wrapper.h"

#include "platform/foundation/text.h"

KeychainWrapper::KeychainWrapper(std::string serviceName, std::optional<std::string> accessGroup)
    : serviceName_(std::move(serviceName)), accessGroup_(std::move(accessGroup)) {}

KeychainWrapper& KeychainWrapper::standard() {
  static KeychainWrapper wrapper(kStandardServiceName);
  return wrapper;
}

KeychainQuery KeychainWrapper::queryForKey(const std::string& key) const {
  KeychainQuery query;
  query.service = serviceName_;
  query.account = key;
  query.accessGroup = accessGroup_;
  return query;
}

std::optional<std::string> KeychainWrapper::stringForKey(const std::string& key) const {
  KeychainItem item;
  if (SecItemCopyMatching(queryForKey(key), &item) != errSecSuccess) return std::nullopt;
  std::string text = item.data.toString();
  if (!isValidUTF8(text)) return std::nullopt;
  return text;
}

std::optional<KeychainStamp> KeychainWrapper::modificationStampForKey(const std::string& key) const {
  KeychainItem item;
  if (SecItemCopyMatching(queryForKey(key), &item) != errSecSuccess) return std::nullopt;
  return item.modified;
}

bool KeychainWrapper::setString(const std::string& value, const std::string& forKey) const {
  KeychainAttributes change;
  change.data = Data::fromString(value);
  // Another thread may add or remove the entry between the two calls. Each lost race means another
  // writer made progress, so a few more rounds settle it; the bound keeps a pathological store from
  // spinning forever.
  for (int attempt = 0; attempt < 64; ++attempt) {
    OSStatus status = SecItemUpdate(queryForKey(forKey), change);
    if (status != errSecItemNotFound) return status == errSecSuccess;
    KeychainItem item;
    item.service = serviceName_;
    item.account = forKey;
    item.data = *change.data;
    item.accessGroup = accessGroup_;
    status = SecItemAdd(item);
    if (status != errSecDuplicateItem) return status == errSecSuccess;
  }
  return false;
}

bool KeychainWrapper::removeObjectForKey(const std::string& key) const {
  return SecItemDelete(queryForKey(key)) == errSecSuccess;
}
