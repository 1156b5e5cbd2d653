#pragma once

#include <string>

#include "platform/keychain/keychain_store.h"

// One file per item in a private directory (mode 0700, files 0600). A write goes to a temporary
// file that is renamed over the item, so a crash leaves either the old item or the new one. A file
// that cannot be read back as an item counts as absent.
class FileKeychainStore final : public KeychainStore {
 public:
  explicit FileKeychainStore(std::string directory);

  // The application data directory (UserDefaults::applicationDataDirectory()) + "/keychain".
  static std::string defaultDirectory();

  const std::string& directory() const { return directory_; }
  // The file that holds the item of (service, account).
  std::string pathForItem(const std::string& service, const std::string& account) const;

 protected:
  std::optional<KeychainItem> load(const std::string& service, const std::string& account) override;
  OSStatus save(const KeychainItem& item) override;
  OSStatus erase(const std::string& service, const std::string& account) override;

 private:
  bool ensureDirectory() const;

  std::string directory_;
};
