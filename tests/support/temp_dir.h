#pragma once
#include <filesystem>
#include <string>

// A fresh private directory under the test temp root, removed with everything in it when the
// object goes. Tests that need a directory for the whole process keep one in a static.
class TempDir {
 public:
  explicit TempDir(const std::string& prefix = "dorvale");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string str() const { return path_.string(); }

 private:
  std::filesystem::path path_;
};
