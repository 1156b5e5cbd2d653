#include "main/developer_log.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

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

// Under a umask that lets the group write, what it makes would else be refused by the keychain.
TEST(DeveloperLogTest, EveryDirectoryItMakesIsPrivate) {
  TempDir dir;
  ScopedEnv home("DORVALE_DATA_DIR", nullptr);
  ScopedEnv xdg("XDG_DATA_HOME", (dir.path() / "home/.local/share").c_str());
  ScopedEnv choice("DORVALE_LOG", nullptr);
  UserDefaults::setApplicationDataDirectory(std::nullopt);
  const mode_t umask = ::umask(002);
  const auto said = routeDeveloperLog();
  ::umask(umask);
  XCGLogger::defaultInstance().setConsoleFile(std::nullopt);
  ASSERT_TRUE(said && said->find("developer log in") != std::string::npos) << said.value_or("");
  for (const char* made : {"home", "home/.local", "home/.local/share", "home/.local/share/dorvale"})
    EXPECT_EQ(modeOf(dir.path() / made), 0700) << made;
}

// What stands at dorvale.log and is not a file of ours is left as it is, and the log stays on
// standard error, saying why: a link's target is not emptied, a named pipe does not hold start-up.
TEST(DeveloperLogTest, AnythingButARegularFileOfOursIsLeftAloneAndNamed) {
  TempDir dir;
  const auto data = dir.path() / "data";
  const auto log = data / "dorvale.log", target = dir.path() / "target";
  ScopedEnv home("DORVALE_DATA_DIR", data.c_str());
  ScopedEnv choice("DORVALE_LOG", nullptr);
  UserDefaults::setApplicationDataDirectory(std::nullopt);
  std::filesystem::create_directories(data);
  const auto refusal = [&](const std::string& why) {
    return "dorvale: cannot write the developer log to " + log.string() + " (" + why + "): it goes to standard error";
  };
  const auto reset = [&] {
    std::filesystem::remove(log);
    std::ofstream(target) << "keep me\n";
    ::chmod(target.c_str(), 0644);
  };

  reset();
  std::filesystem::create_symlink(target, log);
  EXPECT_EQ(routeDeveloperLog(), refusal("it is a symbolic link"));
  EXPECT_EQ(std::make_pair(contentsOf(target), modeOf(target)), std::make_pair(std::string("keep me\n"), 0644));
  reset();
  std::filesystem::create_hard_link(target, log);
  EXPECT_EQ(routeDeveloperLog(), refusal("it has other names (hard links) that emptying it would empty too"));
  EXPECT_EQ(std::make_pair(contentsOf(target), modeOf(target)), std::make_pair(std::string("keep me\n"), 0644));

  reset();
  ASSERT_EQ(::mkfifo(log.c_str(), 0600), 0);
  EXPECT_EQ(routeDeveloperLog(), refusal("it is a named pipe"));  // nobody reading: opening would wait
  const int reader = ::open(log.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(reader, 0);
  EXPECT_EQ(routeDeveloperLog(), refusal("it is a named pipe"));
  ::close(reader);
}

}  // namespace
