#pragma once

#include <optional>
#include <string>

#include "platform/keychain/sec_item.h"

// Texts stored by key as generic passwords of one service (the key is the account). Every call is
// one or two item calls on the current store, so it is as thread-safe as the store.
class KeychainWrapper {
 public:
  static constexpr const char* kStandardServiceName = "com.dorvale.app";

  explicit KeychainWrapper(std::string serviceName, std::optional<std::string> accessGroup = std::nullopt);

  // The application's own wrapper (service kStandardServiceName).
  static KeychainWrapper& standard();

  const std::string& serviceName() const { return serviceName_; }
  const std::optional<std::string>& accessGroup() const { return accessGroup_; }

  // Nothing when the key has no entry or its bytes are not UTF-8 text.
  std::optional<std::string> stringForKey(const std::string& key) const;
  // Creates or replaces the entry; false when the store refused.
  bool setString(const std::string& value, const std::string& forKey) const;
  // When the key's entry was last written; nothing when it has none or its store cannot tell.
  std::optional<KeychainStamp> modificationStampForKey(const std::string& key) const;
  // False when there was no entry or it could not be removed.
  bool removeObjectForKey(const std::string& key) const;

 private:
  KeychainQuery queryForKey(const std::string& key) const;

  std::string serviceName_;
  std::optional<std::string> accessGroup_;
};
