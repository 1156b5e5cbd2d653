#pragma once

#include <atomic>
#include <map>
#include <string>
#include <utility>

#include "platform/keychain/keychain_store.h"

// Items in memory; while refusing, every write fails the way a full or read-only disk fails one.
class RefusingKeychainStore final : public KeychainStore {
 public:
  explicit RefusingKeychainStore(KeychainFailure failure) : failure_(std::move(failure)) {}
  void setRefusing(bool refusing) { refusing_ = refusing; }

 protected:
  std::optional<KeychainItem> load(const std::string& service, const std::string& account) override {
    const auto found = items_.find({service, account});
    return found == items_.end() ? std::nullopt : std::optional(found->second);
  }
  OSStatus save(const KeychainItem& item) override {
    if (refusing_) {
      noteFailure(failure_);
      return errSecIO;
    }
    items_[{item.service, item.account}] = item;
    return errSecSuccess;
  }
  OSStatus erase(const std::string& service, const std::string& account) override {
    return items_.erase({service, account}) ? errSecSuccess : errSecItemNotFound;
  }

 private:
  const KeychainFailure failure_;
  std::atomic<bool> refusing_ = false;
  // Under the store's lock.
  std::map<std::pair<std::string, std::string>, KeychainItem> items_;
};
