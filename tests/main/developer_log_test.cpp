#include "main/developer_log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "platform/foundation/user_defaults.h"
#include "platform/frameworks/xcg_logger.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace {

int modeOf(const std::filesystem::path& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 ? static_cast<int>(info.st_mode & 0777) : -1;
}

std::string contentsOf(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(DeveloperLogTest, GoesToAPrivateFileStartedAfreshUnlessAskedForOnStandardError) {
  TempDir dir;
  const auto data = dir.path() / "data";
  const auto log = data / "dorvale.log";
  ScopedEnv home("DORVALE_DATA_DIR", data.c_str());
  UserDefaults::setApplicationDataDirectory(std::nullopt);
  {
    ScopedEnv choice("DORVALE_LOG", "stderr");
    EXPECT_EQ(routeDeveloperLog(), std::nullopt);
    EXPECT_FALSE(std::filesystem::exists(log));
  }
  std::filesystem::create_directories(data);
  std::ofstream(log) << "last run\n";
  ::chmod(log.c_str(), 0644);
  EXPECT_EQ(routeDeveloperLog(), "dorvale: developer log in " + log.string() + " (DORVALE_LOG=stderr prints it here)");
  XCGLogger::info([] { return "GET Tablet/GetNews"; });
  XCGLogger::defaultInstance().setConsoleFile(std::nullopt);
  EXPECT_EQ(modeOf(log), 0600);
  const auto text = contentsOf(log);
  EXPECT_EQ(text.find("last run"), std::string::npos);
  EXPECT_NE(text.find("GET Tablet/GetNews"), std::string::npos);
}

}  // namespace
