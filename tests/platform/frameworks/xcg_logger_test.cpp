#include "platform/frameworks/xcg_logger.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/foundation/date.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "support/virtual_time.h"

namespace {

using Level = XCGLogger::LogLevel;
using ::testing::ElementsAre;

class XCGLoggerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    logger().setSink([this](Level, const std::string& line, const std::string&) {
      std::lock_guard lock(mutex_);
      lines_.push_back(line);
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

  std::mutex mutex_;
  std::vector<std::string> lines_;
};

TEST_F(XCGLoggerTest, BuildsTextOnlyForEnabledLevelsAndFile) {
  int built = 0;
  auto text = [&built](std::string s) { return [&built, s] { return ++built, s; }; };
  TempDir dir("xcglog");
  const std::string file = dir.str() + "/log";
  setupBare(Level::Error, file, Level::Info);
  logger().log(Level::Verbose, text("v"), "f", "F", 1);
  XCGLogger::debug(text("d"));
  EXPECT_EQ(built, 0);
  XCGLogger::info(text("file only"));
  XCGLogger::severe(text("both"));
  logger().log(Level::None, text("none"), "f", "F", 1);  // None is a threshold, never a message level
  EXPECT_EQ(built, 2);
  // A throwing builder costs its line only.
  XCGLogger::error([]() -> std::string { throw std::runtime_error("bad UTF-8"); });

  setupBare(Level::None);  // closes the file
  XCGLogger::severe(text("off"));
  EXPECT_FALSE(logger().isEnabledFor(Level::Severe));
  EXPECT_EQ(built, 2);
  EXPECT_THAT(lines_, ElementsAre("both", "<log text failed: bad UTF-8>"));
  std::stringstream content;
  content << std::ifstream(file).rdbuf();
  EXPECT_EQ(content.str(), "file only\nboth\n<log text failed: bad UTF-8>\n");
}

TEST_F(XCGLoggerTest, PrefixFollowsSwitches) {
  VirtualTime vt(Date{1.123});
  ScopedEnv utc("TZ", "UTC");

  // The application's own configuration.
  logger().setup(Level::Verbose, true, true, false, true, true, true, true, std::nullopt, Level::Debug);
  XCGLogger::verbose([] { return "hello"; }, "processRequest(_:request:completion:)", "/src/TransferCoordinator", 42);
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

  EXPECT_THAT(lines_, ElementsAre("2001-01-01 00:00:01.123 [dorvale] [Verbose] [TransferCoordinator:42] "
                                  "processRequest(_:request:completion:) > hello",
                                  "[main] > t", "[worker] > w", "[name.cpp] > f", "[7] > l", "no line"));
}

// A reply body reaches the terminal: nothing in it may drive the terminal or reorder the line,
// whichever destination it goes to.
TEST_F(XCGLoggerTest, ControlsAndBidiMarksAreEscapedInEveryDestination) {
  TempDir dir("xcglog");
  const std::string file = dir.str() + "/file", console = dir.str() + "/console";
  logger().setup(Level::Debug, false, false, false, false, false, false, false, file);
  const std::string text =
      "a\x1b[2Jb\x07 tab\tnl\n del\x7f"                         // C0 but tab and newline, DEL
      "\xc2\x9b[6n \xc2\x80\xc2\x9f \xc2\xa0"                   // C1 (its ends) escaped, U+00A0 not
      "\xe2\x80\xaa\xe2\x80\xae\xe2\x80\xa9\xe2\x80\xaf"        // U+202A, U+202E escaped; U+2029, U+202F not
      "\xe2\x81\xa6\xe2\x81\xa9\xe2\x81\xa5\xe2\x81\xaa"        // U+2066, U+2069 escaped; U+2065, U+206A not
      " \xc3\xa9\xf0\x9f\x99\x82"                               // letters and 4-byte forms stay
      " \x9b \xc0\x9b \xed\xa0\x80 \xf4\x90\x80\x80 \xe2\x80";  // not UTF-8 (C1 byte, overlong, ...)
  const std::string escaped =
      "a\\u001B[2Jb\\u0007 tab\tnl\n del\\u007F"
      "\\u009B[6n \\u0080\\u009F \xc2\xa0"
      "\\u202A\\u202E\xe2\x80\xa9\xe2\x80\xaf"
      "\\u2066\\u2069\xe2\x81\xa5\xe2\x81\xaa"
      " \xc3\xa9\xf0\x9f\x99\x82"
      " \\x9B \\xC0\\x9B \\xED\\xA0\\x80 \\xF4\\x90\\x80\\x80 \\xE2\\x80";
  XCGLogger::info([&] { return text; });
  logger().setSink(nullptr);
  ASSERT_TRUE(logger().setConsoleFile(console));
  XCGLogger::info([&] { return text; });
  logger().setConsoleFile(std::nullopt);
  logger().setup();

  EXPECT_THAT(lines_, ElementsAre(escaped));
  for (const auto& path : {file, console}) {
    std::stringstream content;
    content << std::ifstream(path).rdbuf();
    EXPECT_EQ(content.str(), (path == file ? escaped + "\n" : "") + escaped + "\n") << path;
  }
}

// A second run on the same data directory empties the log while this one still writes to it:
// what this one writes next must land at the new end, not after a hole of NUL bytes.
TEST_F(XCGLoggerTest, TheConsoleFileStaysTextWhenAnotherRunEmptiesIt) {
  TempDir dir("xcglog");
  const std::string console = dir.str() + "/dorvale.log";
  setupBare(Level::Debug);
  logger().setSink(nullptr);
  ASSERT_TRUE(logger().setConsoleFile(console));
  XCGLogger::info([] { return "this run, before the other started"; });
  std::ofstream(console, std::ios::trunc) << "other\n";
  XCGLogger::info([] { return "this run, after"; });
  logger().setConsoleFile(std::nullopt);
  std::stringstream content;
  content << std::ifstream(console).rdbuf();
  EXPECT_EQ(content.str(), "other\nthis run, after\n");
}

TEST_F(XCGLoggerTest, BuilderAndSinkMayLogAcrossThreads) {
  setupBare(Level::Debug);
  // The builder logs and the sink reconfigures: both would deadlock under a held lock.
  XCGLogger::info([] {
    XCGLogger::debug([] { return "inner"; });
    return std::string("outer");
  });
  EXPECT_THAT(lines_, ElementsAre("inner", "outer"));
  std::atomic<int> seen{0};
  logger().setSink([&seen](Level, const std::string& line, const std::string&) {
    if (line == "reconfigure")
      XCGLogger::defaultInstance().setup(Level::Debug, false, false, false, false, false, false, false);
    ++seen;
  });
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([] {
      for (int i = 0; i < 50; ++i) XCGLogger::info([i] { return i % 10 ? "line" : "reconfigure"; });
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(seen.load(), 200);
}

}  // namespace
