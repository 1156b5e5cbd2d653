#include "support/swapper.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>

#include <algorithm>
#include <vector>

namespace fs = std::filesystem;

DirectorySwapper::DirectorySwapper(fs::path checked, fs::path elsewhere)
    : checked_(std::move(checked)), link_(checked_.string() + ".swap") {
  fs::create_directory_symlink(elsewhere, link_);
  thread_ = std::thread([this] {
    for (long i = 0; i < 10'000'000 && !stop_; ++i)
      if (::renameat2(AT_FDCWD, checked_.c_str(), AT_FDCWD, link_.c_str(), RENAME_EXCHANGE) == 0) ++swaps_;
  });
}

DirectorySwapper::~DirectorySwapper() {
  stop_ = true;
  thread_.join();
  // Back as it was: the directory under its name, the link gone.
  if (fs::is_symlink(checked_)) ::renameat2(AT_FDCWD, checked_.c_str(), AT_FDCWD, link_.c_str(), RENAME_EXCHANGE);
  std::error_code ignored;
  fs::remove(link_, ignored);
}

std::string snapshotOf(const fs::path& dir) {
  std::vector<std::string> lines;
  auto add = [&](const fs::path& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return;
    lines.push_back(path.string() + " " + std::to_string(st.st_mode) + " " + std::to_string(st.st_size) + " " +
                    std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec));
  };
  add(dir);
  std::error_code error;
  for (fs::recursive_directory_iterator it(dir, error), end; !error && it != end; it.increment(error)) add(it->path());
  std::sort(lines.begin(), lines.end());
  std::string text;
  for (const auto& line : lines) text += line + "\n";
  return text;
}
