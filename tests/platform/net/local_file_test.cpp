#include "platform/net/local_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "platform/net/url_error.h"
#include "support/temp_dir.h"

TEST(LocalFileTest, OnlyARegularFileUpToTheCapIsReadAndNothingWaitsForAWriter) {
  TempDir dir;
  const std::string page = dir.str() + "/page.html";
  std::ofstream(page) << "12345";
  std::filesystem::create_symlink(page, dir.str() + "/link.html");
  ASSERT_EQ(::mkfifo((dir.str() + "/pipe.html").c_str(), 0600), 0);
  const std::pair<std::string, tl::expected<std::string, long>> cases[] = {
      {"/page.html", "12345"},
      {"/link.html", "12345"},
      {"/pipe.html", tl::make_unexpected(NSURLErrorFileDoesNotExist)},
      {"", tl::make_unexpected(NSURLErrorFileDoesNotExist)},
      {"/missing.html", tl::make_unexpected(NSURLErrorFileDoesNotExist)},
  };
  for (const auto& [name, expected] : cases) {
    const auto read = readLocalFile(URL::fileURLWithPath(dir.str() + name), 5);
    const tl::expected<std::string, long> got =
        read ? tl::expected<std::string, long>(*read) : tl::make_unexpected(read.error().code);
    EXPECT_EQ(got, expected) << name;
  }
  EXPECT_EQ(readLocalFile(URL::fileURLWithPath(page), 4).error().code, NSURLErrorDataLengthExceedsMaximum);
  EXPECT_EQ(readLocalFile(*URL::URLWithString("http://127.0.0.1/page.html"), 5).error().code,
            NSURLErrorUnsupportedURL);
}
