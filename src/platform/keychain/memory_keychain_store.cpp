#include "platform/keychain/memory_keychain_store.h"

std::size_t MemoryKeychainStore::count() {
  std::lock_guard lock(itemsMutex_);
  return items_.size();
}

std::optional<KeychainItem> MemoryKeychainStore::load(const std::string& service, const std::string& account) {
  std::lock_guard lock(itemsMutex_);
  auto it = items_.find({service, account});
  if (it == items_.end()) return std::nullopt;
  return it->second;
}

OSStatus MemoryKeychainStore::save(const KeychainItem& item) {
  std::lock_guard lock(itemsMutex_);
  auto& saved = items_[{item.service, item.account}] = item;
  saved.modified = KeychainStamp{++writes_, 0};
  return errSecSuccess;
}

OSStatus MemoryKeychainStore::erase(const std::string& service, const std::string& account) {
  std::lock_guard lock(itemsMutex_);
  return items_.erase({service, account}) ? errSecSuccess : errSecItemNotFound;
}
