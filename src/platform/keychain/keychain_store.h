#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/keychain/sec_item.h"

// Why a store could not write: where it keeps its items, and the reason it was given.
struct KeychainFailure {
  std::string place;
  std::string reason;
};

// Where keychain items live. The item rules (duplicates, matching, updates) are here, once;
// subclasses only load, save and erase whole items. Every operation runs under the store's lock.
class KeychainStore {
 public:
  virtual ~KeychainStore() = default;

  OSStatus add(const KeychainItem& item);
  OSStatus copyMatching(const KeychainQuery& query, KeychainItem* result);
  OSStatus update(const KeychainQuery& query, const KeychainAttributes& attributes);
  OSStatus remove(const KeychainQuery& query);

  // The process-wide store: a FileKeychainStore in the default directory unless a test installs
  // another. Passing nullptr goes back to the default.
  static std::shared_ptr<KeychainStore> current();
  static void setCurrent(std::shared_ptr<KeychainStore> store);

  // Why the last add, update or remove made on this thread could not write, when its store said.
  static std::optional<KeychainFailure> lastFailure();

  // The item of (service, account) holds a sign-in: a store that cannot use it says that the user
  // is signed out. Its owner notes it before reading it.
  static void noteHoldsSignIn(const std::string& service, const std::string& account);
  static bool holdsSignIn(const std::string& service, const std::string& account);

 protected:
  // For save and erase to say why they refuse; kept for this thread until its next add, update or
  // remove.
  static void noteFailure(KeychainFailure failure);

  // Nothing when the item is absent or cannot be read.
  virtual std::optional<KeychainItem> load(const std::string& service, const std::string& account) = 0;
  // Creates or replaces the item of (service, account).
  virtual OSStatus save(const KeychainItem& item) = 0;
  virtual OSStatus erase(const std::string& service, const std::string& account) = 0;

 private:
  std::optional<KeychainItem> find(const KeychainQuery& query);

  std::mutex mutex_;
};
