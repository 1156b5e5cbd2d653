#include "data_dir.h"

#include <dirent.h>
#include <fcntl.h>
#include <fmt/format.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <system_error>
#include <utility>

#include "platform/foundation/swap_guard.h"

namespace fs = std::filesystem;

namespace {

std::string kindOf(mode_t mode) {
  switch (mode & S_IFMT) {
    case S_IFREG: return "a regular file";
    case S_IFDIR: return "a directory";
    case S_IFLNK: return "a symbolic link";
    case S_IFIFO: return "a named pipe";
    case S_IFSOCK: return "a socket";
    case S_IFCHR:
    case S_IFBLK: return "a device";
  }
  return "not a regular file";
}

[[noreturn]] void refuse(const fs::path& path, const std::string& why) {
  throw std::runtime_error(fmt::format("will not use {}: {}", path.string(), why));
}

// Why an open of `name` in `at` (a directory's descriptor, or AT_FDCWD) with O_NOFOLLOW failed: a
// link or other kind says more than the error number. `shown` names it.
[[noreturn]] void refuseUnopened(int at, const fs::path& name, const fs::path& shown, mode_t expected, int error) {
  struct stat st {};
  if (::fstatat(at, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && (st.st_mode & S_IFMT) != expected)
    refuse(shown, "it is " + kindOf(st.st_mode));
  refuse(shown, std::strerror(error));
}

// Closes the descriptor whatever way the scope is left.
struct Descriptor {
  int fd;
  ~Descriptor() {
    if (fd >= 0) ::close(fd);
  }
};

void refuseEveryLinkIn(int dirFd, const fs::path& dir) {
  const std::unique_ptr<DIR, int (*)(DIR*)> stream(::fdopendir(::fcntl(dirFd, F_DUPFD_CLOEXEC, 0)), ::closedir);
  if (!stream) refuse(dir, std::strerror(errno));
  while (const dirent* entry = ::readdir(stream.get())) {
    struct stat st {};
    if (entry->d_type == DT_LNK ||
        (entry->d_type == DT_UNKNOWN && ::fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
         S_ISLNK(st.st_mode)))
      refuse(dir / entry->d_name, "it is a symbolic link");
  }
}

// `name` in `at` (a directory's descriptor, or AT_FDCWD), checked on the descriptor returned.
int openOwnFileAt(int at, const fs::path& name, const fs::path& shown, int flags) {
  // Non-blocking, so that a named pipe in its place is refused rather than waited on.
  const int fd = ::openat(at, name.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
  if (fd < 0) refuseUnopened(at, name, shown, S_IFREG, errno);
  struct stat st {};
  std::string why;
  if (::fstat(fd, &st) != 0) {
    why = std::strerror(errno);
  } else if (!S_ISREG(st.st_mode)) {
    why = "it is " + kindOf(st.st_mode);
  } else if (st.st_uid != ::geteuid()) {
    why = "it belongs to another user";
  } else if (st.st_nlink > 1) {
    why = "it has other names (hard links), which writing it would change too";
  } else if (((st.st_mode & 07777) != 0600 && ::fchmod(fd, 0600) != 0) ||
             ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
    why = std::strerror(errno);
  }
  if (why.empty()) return fd;
  ::close(fd);
  refuse(shown, why);
}

}  // namespace

fs::path unswappable(const fs::path& dir) {
  std::string parent;
  if (const auto why = whyOthersMaySwapIn(dir.parent_path().string(), &parent)) refuse(dir, *why);
  return fs::path(parent) / dir.filename();
}

PrivateDir::PrivateDir(const fs::path& given) {
  const fs::path named = given.has_filename() ? given : given.parent_path();
  // Links above it are the user's own choice (a named data directory may be one).
  const GuardedDirectory guarded = openGuardedDirectory(named.string(), true);
  if (guarded.swappable) refuse(named, *guarded.swappable);
  path_ = guarded.path.empty() ? named : fs::path(guarded.path);
  const fs::path& dir = path_;
  Descriptor opened{guarded.fd};
  if (opened.fd < 0) refuse(dir, guarded.kind ? "it is " + kindOf(guarded.kind) : std::strerror(guarded.error));
  struct stat st {};
  if (::fstat(opened.fd, &st) != 0) refuse(dir, std::strerror(errno));
  if (st.st_uid != ::geteuid()) refuse(dir, "it belongs to another user");
  // Closing a shared directory would lock its other users out.
  if (st.st_mode & (S_IWOTH | S_ISVTX)) refuse(dir, "it is shared (writable by everyone, or sticky)");
  if ((st.st_mode & 07777) != 0700 && ::fchmod(opened.fd, 0700) != 0) refuse(dir, std::strerror(errno));
  refuseEveryLinkIn(opened.fd, dir);
  fd_ = std::exchange(opened.fd, -1);
}

PrivateDir::~PrivateDir() { ::close(fd_); }

int PrivateDir::openOwnFile(const std::string& name, int flags) const {
  return openOwnFileAt(fd_, name, path_ / name, flags);
}

std::optional<std::string> PrivateDir::whyGone() const {
  struct stat kept {}, named {};
  if (::fstat(fd_, &kept) != 0) return std::string(std::strerror(errno));
  if (kept.st_nlink == 0) return "it was removed";
  // SQLite makes its journals by the path, and a pooled connection opens the store by it.
  if (::stat(path_.c_str(), &named) != 0) return fmt::format("its path leads to nothing ({})", std::strerror(errno));
  if (named.st_dev != kept.st_dev || named.st_ino != kept.st_ino) return "its path leads to another directory";
  return std::nullopt;
}

CheckedStore::CheckedStore(const fs::path& file) {
  fds_.reserve(4);
  try {
    fds_.push_back(openOwnFileAt(AT_FDCWD, file, file, O_RDWR | O_CREAT));
    for (const char* journal : {"-journal", "-wal", "-shm"}) {
      const fs::path path = file.string() + journal;
      struct stat st {};
      // SQLite makes and removes them as it goes.
      if (::lstat(path.c_str(), &st) == 0) fds_.push_back(openOwnFileAt(AT_FDCWD, path, path, O_RDONLY));
    }
  } catch (...) {
    for (const int fd : fds_) ::close(fd);
    throw;
  }
  std::error_code error;
  const fs::path dir = fs::canonical(file.has_parent_path() ? file.parent_path() : fs::path("."), error);
  path_ = error ? file.string() : (dir / file.filename()).string();
}

CheckedStore::~CheckedStore() {
  for (const int fd : fds_) ::close(fd);
}

DataDirLock::DataDirLock(const PrivateDir& dir) {
  const fs::path file = dir.path() / "sample_backend.lock";
  fd_ = dir.openOwnFile("sample_backend.lock", O_RDWR | O_CREAT);
  if (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    char pid[32] = {};
    const auto size = pread(fd_, pid, sizeof pid - 1, 0);
    close(fd_);
    throw DataDirBusy(fmt::format(
        "another sample backend (process {}) is already running on {}; stop it or give this one another --data",
        size > 0 ? std::string(pid, static_cast<std::size_t>(size)) : "unknown", dir.path().string()));
  }
  const std::string pid = std::to_string(getpid());
  if (ftruncate(fd_, 0) != 0 || pwrite(fd_, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size())) {
    close(fd_);
    throw std::runtime_error("cannot write " + file.string());
  }
}

DataDirLock::~DataDirLock() {
  if (fd_ >= 0) close(fd_);
}
