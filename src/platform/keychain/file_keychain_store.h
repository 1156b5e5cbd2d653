#pragma once

#include <functional>
#include <set>
#include <string>
#include <string_view>

#include "platform/keychain/keychain_store.h"

// One file per item in a private directory (mode 0700, files 0600). A write goes to a temporary
// file that is renamed over the item, so a crash leaves either the old item or the new one. A file
// that cannot be read back as an item counts as absent (standard error hears once why, adding
// that the user is signed out when the item holds a sign-in: KeychainStore::noteHoldsSignIn), and so
// does every item when the directory or the item belongs to another user or others may write it:
// they could have swapped it. So does a link, or a sticky directory, in the directory's place, and
// a parent in which others could swap it (whyOthersMaySwapIn); a save there is refused. A directory
// or item that others may only read is made private again when it is read. Files are opened
// relative to the checked directory, never through a link. A write or erase that fails says why
// through KeychainStore::lastFailure(). A read stamps the item with its file's modification time.
class FileKeychainStore final : public KeychainStore {
 public:
  explicit FileKeychainStore(std::string directory);

  // The application data directory (UserDefaults::applicationDataDirectory()) + "/keychain".
  static std::string defaultDirectory();

  const std::string& directory() const { return directory_; }
  // The file that holds the item of (service, account).
  std::string pathForItem(const std::string& service, const std::string& account) const;

  // The keychain directory at `directory`, opened and checked as a read does; -1 when it is not
  // there or not used.
  static int openDirectory(const std::string& directory);

  // Looks over the directory and every item in it (the first read does this and prints the
  // answer on standard error): why the keychain, or one of its items, is not trusted, as one
  // line; nothing when all is trusted. Makes private again what others may only read.
  std::optional<std::string> checkModes() const;

  // While this process holds the keychain lock on `directory` (KeychainLock), an erase hides the
  // item from this process but leaves its file to other programs until the lock goes; a save of
  // the item meanwhile renames over that file. Other programs thus see a delete followed by an add
  // (the way a write replaces an item) as the old item or the new one, never none. A marker file
  // beside the item makes the erase hold for everyone once this program ends without carrying it
  // out, unless the add's file was whole by then: everyone reads that as the item. The next holder
  // of the lock carries either through, names an item so erased on standard error, and removes
  // the files of writes whose program ended before it was done. Begins by doing so. A read that
  // names such an item first does so too, taking the lock unless this process holds it; it does
  // not wait for another program's.
  // `dir` is the directory's descriptor (openDirectory), `directory` its name for what is said.
  static void beginLockedWrites(int dir, const std::string& directory);
  // Carries out the erases still hidden, then forgets them.
  static void endLockedWrites(int dir);

  // For tests that end a program in the middle of a save: called with "whole" once the new item's
  // file is written and synced, then with "renaming" just before it takes the item's name.
  static void setSaveStepHook(std::function<void(std::string_view step)> hook);

 protected:
  std::optional<KeychainItem> load(const std::string& service, const std::string& account) override;
  OSStatus save(const KeychainItem& item) override;
  OSStatus erase(const std::string& service, const std::string& account) override;

 private:
  static std::string itemName(const std::string& service, const std::string& account);
  OSStatus refuse(std::string reason) const;

  std::string directory_;
  // Under the store's lock.
  bool modesChecked_ = false;
  std::set<std::string> toldUnusable_;
};
