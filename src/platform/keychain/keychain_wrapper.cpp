#include "platform/keychain/keychain_wrapper.h"

#include <cstdint>
#include <string_view>

namespace {

bool isValidUtf8(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    auto c = static_cast<std::uint8_t>(s[i]);
    std::size_t extra;
    std::uint32_t cp;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      extra = 1, cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      extra = 2, cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      extra = 3, cp = c & 0x07;
    } else {
      return false;
    }
    if (i + extra >= s.size()) return false;
    for (std::size_t k = 1; k <= extra; ++k) {
      auto cc = static_cast<std::uint8_t>(s[i + k]);
      if ((cc & 0xC0) != 0x80) return false;
      cp = cp << 6 | (cc & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF.
    static constexpr std::uint32_t kMin[] = {0, 0x80, 0x800, 0x10000};
    if (cp < kMin[extra] || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) return false;
    i += extra + 1;
  }
  return true;
}

}  // namespace

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
  if (!isValidUtf8(text)) return std::nullopt;
  return text;
}

bool KeychainWrapper::setString(const std::string& value, const std::string& forKey) const {
  KeychainAttributes change;
  change.data = Data::fromString(value);
  // Another thread may add or remove the entry between the two calls; one more round settles it.
  for (int attempt = 0; attempt < 2; ++attempt) {
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
