#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/date.h"

// An advisory lock that every program on one keychain directory shares: an exclusive flock on
// the file "keychain.lock" (mode 0600) in that directory. It guards read-modify-write sequences
// that span more than one keychain call, such as renewing a stored grant and saving its rotation.
// Each holder opens the file anew, so two holders in one process exclude each other too. While it
// is held, items this process erases stay in place for other programs until it goes, or until
// they are written again (FileKeychainStore::beginLockedWrites).
class KeychainLock {
 public:
  static constexpr const char* kFileName = "keychain.lock";

  // The directory of the process's keychain when its items live in files; nothing otherwise.
  static std::optional<std::string> currentDirectory();

  // Held until destroyed. Waits up to `timeout` seconds of real time (0: one try); nothing when
  // another holder keeps it that long, or when the lock file cannot be had at all.
  static std::unique_ptr<KeychainLock> acquire(const std::string& directory, TimeInterval timeout = 0);

  ~KeychainLock();
  KeychainLock(const KeychainLock&) = delete;
  KeychainLock& operator=(const KeychainLock&) = delete;

 private:
  KeychainLock(int fd, int dir) : fd_(fd), dir_(dir) {}

  int fd_;
  // The keychain directory as checked when the lock was taken.
  int dir_;
};
