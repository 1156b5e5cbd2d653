#pragma once

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

// The backend's state holds password hashes and sign-in tokens, and its directory may sit in a
// data directory other users share: nothing found in it is taken as it stands. A refusal throws
// std::runtime_error naming the path and why.

// `dir` with the links above it resolved, the path that stays its own from then on. Refused when
// someone else may rename what its parent, or a directory above, holds: between a check and a use
// they could swap it for a link.
std::filesystem::path unswappable(const std::filesystem::path& dir);

// The backend's directory, made (with missing parents) private when it is missing, at its
// unswappable() path. An existing one is refused when it is a link, another user's, shared
// (writable by everyone, or sticky) or holds a link of any name; else it is closed to its owner.
// The descriptor it was checked on stays open while this lives, and its files are opened relative
// to it.
class PrivateDir {
 public:
  explicit PrivateDir(const std::filesystem::path& dir);
  ~PrivateDir();
  PrivateDir(const PrivateDir&) = delete;
  PrivateDir& operator=(const PrivateDir&) = delete;

  // For what cannot be opened relative to it (the store).
  const std::filesystem::path& path() const { return path_; }
  // One of the backend's own files in it, opened with `flags` (O_CREAT makes it private). Refused
  // when it is a link, has other names (hard links), is not a regular file or is another user's; a
  // mode an earlier version left open is closed to the owner.
  int openOwnFile(const std::string& name, int flags) const;
  // Why what was saved in it from now on would be lost: the directory was removed, or its path
  // leads to nothing or to another directory. Nothing while it stands.
  std::optional<std::string> whyGone() const;

 private:
  std::filesystem::path path_;
  int fd_ = -1;
};

// The store at `file` (made private when missing) and its journals checked as PrivateDir checks
// its files, once, before SQLite opens it. What the checks opened stays open while this lives:
// closing any descriptor of a file drops every lock the process holds on it, SQLite's among
// them, so this must outlive every connection to the store.
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
  explicit DataDirLock(const PrivateDir& dir);
  ~DataDirLock();
  DataDirLock(const DataDirLock&) = delete;
  DataDirLock& operator=(const DataDirLock&) = delete;

 private:
  int fd_ = -1;
};
