#include "platform/keychain/keychain_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>

#include "platform/keychain/file_keychain_store.h"
#include "platform/keychain/keychain_store.h"

namespace {

// Short enough that a waiter follows the holder closely, long enough to cost nothing.
constexpr auto kPollInterval = std::chrono::milliseconds(10);

// The lock file, created private in the checked directory `dir`; nothing when it is no regular
// file of ours.
int openLockFile(int dir) {
  const int fd = ::openat(dir, KeychainLock::kFileName, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
  if (fd < 0) return -1;
  struct stat st {};
  const bool ours = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid();
  // The umask may have narrowed the mode; nobody else may widen it.
  if (!ours || ((st.st_mode & 07777) != 0600 && ::fchmod(fd, 0600) != 0)) {
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

std::optional<std::string> KeychainLock::currentDirectory() {
  const auto files = std::dynamic_pointer_cast<FileKeychainStore>(KeychainStore::current());
  if (!files) return std::nullopt;
  return files->directory();
}

std::unique_ptr<KeychainLock> KeychainLock::acquire(const std::string& directory, TimeInterval timeout) {
  const int dir = FileKeychainStore::openDirectory(directory);
  if (dir < 0) return nullptr;
  const int fd = openLockFile(dir);
  if (fd < 0) {
    ::close(dir);
    return nullptr;
  }
  using Steady = std::chrono::steady_clock;
  const auto deadline = Steady::now() + std::chrono::duration_cast<Steady::duration>(
                                            std::chrono::duration<double>(std::max(timeout, 0.0)));
  while (true) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      FileKeychainStore::beginLockedWrites(dir, directory);
      return std::unique_ptr<KeychainLock>(new KeychainLock(fd, dir));
    }
    const auto now = Steady::now();
    if ((errno != EWOULDBLOCK && errno != EINTR) || now >= deadline) break;
    std::this_thread::sleep_for(std::min<Steady::duration>(kPollInterval, deadline - now));
  }
  ::close(fd);
  ::close(dir);
  return nullptr;
}

KeychainLock::~KeychainLock() {
  // Before another program may take the lock and see what is stored.
  FileKeychainStore::endLockedWrites(dir_);
  ::flock(fd_, LOCK_UN);
  ::close(fd_);
  ::close(dir_);
}
