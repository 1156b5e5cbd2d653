#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

// The backend's state holds password hashes and sign-in tokens, and its directory may sit in a
// data directory other users share: nothing found in it is taken as it stands. A refusal throws
// std::runtime_error naming the path and why.

// Makes `dir` (and missing parents) private when it is missing. An existing one is refused when it
// is a link, another user's, shared (writable by everyone, or sticky) or holds a link of any name;
// else it is closed to its owner.
void makePrivate(const std::filesystem::path& dir);

// One of the backend's own files in its directory, opened with `flags` (O_CREAT makes it private).
// Refused when it is a link, has other names (hard links), is not a regular file or is another
// user's; a mode an earlier version left open is closed to the owner.
int openOwnFile(const std::filesystem::path& file, int flags);

// The store at `file` (made private when missing) and its journals checked as openOwnFile does,
// once, before SQLite opens it. What the checks opened stays open while this lives: closing any
// descriptor of a file drops every lock the process holds on it, SQLite's among them, so this
// must outlive every connection to the store.
class CheckedStore {
 public:
  explicit CheckedStore(const std::filesystem::path& file);
  ~CheckedStore();
  CheckedStore(const CheckedStore&) = delete;
  CheckedStore& operator=(const CheckedStore&) = delete;

  // The path to give SQLite, which refuses links anywhere on it: the ones above are resolved.
  const std::string& path() const { return path_; }

 private:
  std::vector<int> fds_;
  std::string path_;
};

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
