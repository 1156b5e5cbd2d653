#include "platform/frameworks/xcg_logger.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "platform/foundation/date.h"

namespace {

using Level = XCGLogger::LogLevel;
using ::testing::ElementsAre;

struct Captured {
  Level level;
  std::string line;
  std::string text;
};

class XCGLoggerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    logger().setSink([this](Level level, const std::string& line, const std::string& text) {
      std::lock_guard lock(mutex_);
      captured_.push_back({level, line, text});
    });
  }
  void TearDown() override {
    logger().setSink(nullptr);
    logger().setup();
  }
  static XCGLogger& logger() { return XCGLogger::defaultInstance(); }
  // No prefix at all, so lines equal texts.
  static void setupBare(Level level, std::optional<std::string> file = std::nullopt, Level fileLevel = Level::Debug) {
    logger().setup(level, false, false, false, false, false, false, false, std::move(file), fileLevel);
  }
  std::vector<std::string> lines() {
    std::lock_guard lock(mutex_);
    std::vector<std::string> out;
    for (const auto& c : captured_) out.push_back(c.line);
    return out;
  }

  std::mutex mutex_;
  std::vector<Captured> captured_;
};

TEST_F(XCGLoggerTest, BuildsTextOnlyWhenEnabled) {
  int built = 0;
  auto text = [&built](std::string s) {
    return [&built, s] {
      ++built;
      return s;
    };
  };
  setupBare(Level::Info);
  EXPECT_EQ(logger().outputLogLevel(), Level::Info);
  logger().log(Level::Verbose, text("v"), "f", "F", 1);
  XCGLogger::debug(text("d"));
  EXPECT_EQ(built, 0);
  XCGLogger::info(text("i"));
  XCGLogger::severe(text("s"));
  logger().log(Level::None, text("none"), "f", "F", 1);  // None is a threshold, never a message level
  EXPECT_EQ(built, 2);
  EXPECT_THAT(lines(), ElementsAre("i", "s"));
  EXPECT_EQ(captured_[1].level, Level::Severe);

  setupBare(Level::None);
  XCGLogger::severe(text("off"));
  EXPECT_FALSE(logger().isEnabledFor(Level::Severe));
  EXPECT_EQ(built, 2);
}

TEST_F(XCGLoggerTest, PrefixFollowsSwitches) {
  auto oldClock = currentClock();
  auto clock = std::make_shared<VirtualClock>(Date{1.123});
  setCurrentClock(clock);
  const char* oldTz = std::getenv("TZ");
  std::string savedTz = oldTz ? oldTz : "";
  ::setenv("TZ", "UTC", 1);
  ::tzset();

  // The application's own configuration.
  logger().setup(Level::Verbose, true, true, false, true, true, true, true, std::nullopt, Level::Debug);
  XCGLogger::verbose([] { return "hello"; }, "processRequest(_:request:completion:)", "/src/TransferCoordinator", 42);
  // Thread only, then location pieces alone.
  logger().setup(Level::Verbose, false, false, true, false, false, false, false);
  XCGLogger::info([] { return "t"; }, "fn", "file", 7);
  std::thread([] {
    ::pthread_setname_np(::pthread_self(), "worker");
    XCGLogger::info([] { return "w"; });
  }).join();
  logger().setup(Level::Verbose, false, false, false, false, true, false, false);
  XCGLogger::info([] { return "f"; }, "fn", "dir/name.cpp", 7);
  logger().setup(Level::Verbose, false, false, false, false, false, true, false);
  XCGLogger::info([] { return "l"; }, "fn", "dir/name.cpp", 7);
  XCGLogger::info([] { return "no line"; }, "fn", "dir/name.cpp", 0);

  EXPECT_THAT(lines(), ElementsAre("2001-01-01 00:00:01.123 [dorvale] [Verbose] [TransferCoordinator:42] "
                                   "processRequest(_:request:completion:) > hello",
                                   "[main] > t", "[worker] > w", "[name.cpp] > f", "[7] > l", "no line"));
  EXPECT_EQ(captured_[0].text, "hello");

  oldTz ? ::setenv("TZ", savedTz.c_str(), 1) : ::unsetenv("TZ");
  ::tzset();
  setCurrentClock(oldClock);
}

TEST_F(XCGLoggerTest, WritesFileAtItsOwnLevel) {
  std::string pattern = (std::filesystem::temp_directory_path() / "xcglog-XXXXXX").string();
  int fd = ::mkstemp(pattern.data());
  ASSERT_GE(fd, 0);
  ::close(fd);
  setupBare(Level::Error, pattern, Level::Verbose);
  EXPECT_TRUE(logger().isEnabledFor(Level::Verbose));
  XCGLogger::verbose([] { return "file only"; });
  XCGLogger::error([] { return "both"; });
  setupBare(Level::Error);  // closes the file
  std::ifstream in(pattern);
  std::stringstream content;
  content << in.rdbuf();
  EXPECT_EQ(content.str(), "file only\nboth\n");
  EXPECT_THAT(lines(), ElementsAre("both"));
  std::filesystem::remove(pattern);
}

TEST_F(XCGLoggerTest, BuilderAndSinkMayLogAcrossThreads) {
  setupBare(Level::Debug);
  // The builder logs and the sink reconfigures: both would deadlock under a held lock.
  XCGLogger::info([] {
    XCGLogger::debug([] { return "inner"; });
    return std::string("outer");
  });
  std::atomic<int> seen{0};
  logger().setSink([&seen](Level, const std::string& line, const std::string&) {
    if (line == "reconfigure") XCGLogger::defaultInstance().setup(Level::Debug, false, false, false, false, false,
                                                                  false, false);
    ++seen;
  });
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([] {
      for (int i = 0; i < 50; ++i) XCGLogger::info([i] { return i % 10 ? "line" : "reconfigure"; });
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(seen.load(), 200);
  EXPECT_THAT(captured_, ::testing::SizeIs(2));
  EXPECT_EQ(captured_[0].line, "inner");
  EXPECT_EQ(captured_[1].line, "outer");
}

}  // namespace
