#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <system_error>

TempDir::TempDir(const std::string& prefix) {
  std::string pattern = (std::filesystem::path(::testing::TempDir()) / (prefix + "-XXXXXX")).string();
  if (!::mkdtemp(pattern.data())) {
    ADD_FAILURE() << "cannot make a temporary directory from " << pattern;
    return;
  }
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}
