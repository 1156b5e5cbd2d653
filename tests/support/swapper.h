#pragma once

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>

// Keeps exchanging a directory with a link to another one, as a user who may rename entries in
// their parent could, until destroyed: what a program checked at one moment may be the link the
// next. Bounded, so that a test whose program never stops cannot hang on it.
class DirectorySwapper {
 public:
  DirectorySwapper(std::filesystem::path checked, std::filesystem::path elsewhere);
  ~DirectorySwapper();
  DirectorySwapper(const DirectorySwapper&) = delete;
  DirectorySwapper& operator=(const DirectorySwapper&) = delete;

  // How many exchanges took place.
  long swaps() const { return swaps_.load(); }

 private:
  std::filesystem::path checked_, link_;
  std::atomic<bool> stop_{false};
  std::atomic<long> swaps_{0};
  std::thread thread_;
};

// Every entry under `dir` with its kind, size, mode and modification time, one a line: equal
// snapshots mean nothing in it was made, written, removed or had its mode changed.
std::string snapshotOf(const std::filesystem::path& dir);
