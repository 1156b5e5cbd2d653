#include "platform/foundation/swap_guard.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

std::optional<std::string> whyOthersMaySwapIn(const std::string& directory, std::string* resolved) {
  std::error_code error;
  const fs::path absolute = fs::absolute(directory.empty() ? "." : directory, error);
  const fs::path path = error ? absolute : fs::weakly_canonical(absolute, error);
  if (error) return directory + " cannot be resolved: " + error.message();
  if (resolved) *resolved = path.string();
  // Innermost first: the directory named is then most often the one the user chose.
  for (fs::path dir = path;; dir = dir.parent_path()) {
    struct stat st {};
    if (::lstat(dir.c_str(), &st) == 0) {
      if (st.st_uid != ::geteuid() && st.st_uid != 0)
        return dir.string() + " belongs to another user, who could swap what is in it: choose a directory of your own";
      if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (st.st_mode & S_ISVTX) == 0)
        return dir.string() + " may be written by others and is not sticky, so they could swap what is in it: " +
               (st.st_uid == ::geteuid() ? "choose another directory, or run chmod +t " + dir.string()
                                         : std::string("choose another directory"));
    }
    if (!dir.has_relative_path()) break;
  }
  return std::nullopt;
}
