#include "data_dir.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <sys/file.h>
#include <unistd.h>

#include <stdexcept>
#include <string>

namespace fs = std::filesystem;

void makePrivate(const fs::path& dir) {
  fs::create_directories(dir);
  fs::permissions(dir, fs::perms::owner_all);
  for (const auto& entry : fs::directory_iterator(dir))
    if (entry.is_regular_file()) fs::permissions(entry.path(), fs::perms::owner_read | fs::perms::owner_write);
}

DataDirLock::DataDirLock(const fs::path& dir) {
  const fs::path file = dir / "sample_backend.lock";
  fd_ = open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd_ < 0) throw std::runtime_error("cannot open " + file.string());
  if (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    char pid[32] = {};
    const auto size = pread(fd_, pid, sizeof pid - 1, 0);
    close(fd_);
    throw DataDirBusy(fmt::format(
        "another sample backend (process {}) is already running on {}; stop it or give this one another --data",
        size > 0 ? std::string(pid, static_cast<std::size_t>(size)) : "unknown", dir.string()));
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
