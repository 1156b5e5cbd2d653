#pragma once

#include <cstdint>
#include <map>
#include <utility>

#include "platform/keychain/keychain_store.h"

// Keeps items in memory only; for tests. An item's stamp counts the writes before it.
class MemoryKeychainStore final : public KeychainStore {
 public:
  std::size_t count();

 protected:
  std::optional<KeychainItem> load(const std::string& service, const std::string& account) override;
  OSStatus save(const KeychainItem& item) override;
  OSStatus erase(const std::string& service, const std::string& account) override;

 private:
  std::mutex itemsMutex_;
  std::map<std::pair<std::string, std::string>, KeychainItem> items_;
  std::int64_t writes_ = 0;
};
