#include "platform/ui/url_contents.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "platform/net/url_error.h"
#include "platform/net/url_session_task.h"
#include "support/fake_backend.h"
#include "support/temp_dir.h"
#include "support/virtual_time.h"

TEST(URLContentsTest, ReadsFilesAndHTTPAndFailsInsteadOfHanging) {
  VirtualTime time;
  TempDir dir;
  std::ofstream(dir.str() + "/sound.wav") << "bytes on disk";
  ASSERT_EQ(::mkfifo((dir.str() + "/pipe.wav").c_str(), 0600), 0);
  FakeBackend server;
  server.reply("GET", "/ok", {.body = "bytes from the network"});
  server.reply("GET", "/gone", {.status = 404, .body = "not here"});
  server.reply("GET", "/slow", {.body = "late", .delay = 5});
  struct Case {
    URL url;
    std::optional<std::string> body;
    long error;
  };
  const Case cases[] = {
      {URL::fileURLWithPath(dir.str() + "/sound.wav"), "bytes on disk", 0},
      {URL::fileURLWithPath(dir.str() + "/missing.wav"), std::nullopt, NSURLErrorFileDoesNotExist},
      // Only a regular file is read: a pipe without a writer must not hold the caller.
      {URL::fileURLWithPath(dir.str() + "/pipe.wav"), std::nullopt, NSURLErrorFileDoesNotExist},
      {URL::fileURLWithPath(dir.str()), std::nullopt, NSURLErrorFileDoesNotExist},
      {*URL::URLWithString("file:///dev/zero"), std::nullopt, NSURLErrorFileDoesNotExist},
      {*URL::URLWithString(server.url("ok")), "bytes from the network", 0},
      {*URL::URLWithString(server.url("gone")), std::nullopt, NSURLErrorBadServerResponse},
      // Called on the main thread with the main run loop idle: no deadlock, a bounded wait.
      {*URL::URLWithString(server.url("slow")), std::nullopt, NSURLErrorTimedOut},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url.absoluteString());
    std::optional<NSError> error;
    auto data = dataWithContentsOfURL(c.url, 0.5, &error);
    EXPECT_EQ(data ? std::optional(data->toString()) : std::nullopt, c.body);
    EXPECT_EQ(error ? error->code : 0, c.error);

    // Without waiting: the same answer, later, on the main run loop.
    std::optional<std::pair<std::optional<std::string>, long>> later;
    loadContentsOfURL(c.url, 0.5, [&](std::optional<Data> bytes, std::optional<NSError> reason) {
      later.emplace(bytes ? std::optional(bytes->toString()) : std::nullopt, reason ? reason->code : 0);
    });
    EXPECT_FALSE(later);
    ASSERT_TRUE(time.runUntil([&] { return later.has_value(); }));
    EXPECT_EQ(*later, std::pair(c.body, c.error));
  }
  // A cancelled load says so.
  long cancelled = 0;
  loadContentsOfURL(*URL::URLWithString(server.url("slow")), 10,
                    [&](std::optional<Data>, std::optional<NSError> reason) { cancelled = reason ? reason->code : 0; })
      ->cancel();
  ASSERT_TRUE(time.runUntil([&] { return cancelled != 0; }));
  EXPECT_EQ(cancelled, NSURLErrorCancelled);
}

TEST(URLContentsTest, BodiesAndFilesPastTheCapFail) {
  VirtualTime time;
  FakeBackend server;
  server.reply("GET", "/bomb", {.body = std::string(65 * 1024 * 1024, 'a'), .deflate = true});
  TempDir dir;
  const std::string huge = dir.str() + "/huge.wav";
  std::filesystem::resize_file((std::ofstream(huge), huge), 64 * 1024 * 1024 + 1);
  std::optional<NSError> error;
  EXPECT_FALSE(dataWithContentsOfURL(URL::fileURLWithPath(huge), 1, &error));
  EXPECT_EQ(error ? error->code : 0, NSURLErrorDataLengthExceedsMaximum);
  long code = 0;
  loadContentsOfURL(*URL::URLWithString(server.url("bomb")), 30,
                    [&](std::optional<Data>, std::optional<NSError> reason) { code = reason ? reason->code : -1; });
  ASSERT_TRUE(time.runUntil([&] { return code != 0; }, 30));
  EXPECT_EQ(code, NSURLErrorDataLengthExceedsMaximum);
}
