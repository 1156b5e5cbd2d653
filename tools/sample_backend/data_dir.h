#pragma once

#include <filesystem>
#include <stdexcept>

// Leaves `dir` (made if missing) and the files in it to their owner alone: they hold password
// hashes and sign-in tokens.
void makePrivate(const std::filesystem::path& dir);

// Holds the data directory for this process while it lives: a second backend on the same state
// would fight the first over the database. Throws DataDirBusy naming the holder's process, or
// std::runtime_error.
struct DataDirBusy : std::runtime_error {
  using std::runtime_error::runtime_error;
};

class DataDirLock {
 public:
  explicit DataDirLock(const std::filesystem::path& dir);
  ~DataDirLock();
  DataDirLock(const DataDirLock&) = delete;
  DataDirLock& operator=(const DataDirLock&) = delete;

 private:
  int fd_ = -1;
};
