#include "platform/ui/url_contents.h"

#include <gtest/gtest.h>

#include <fstream>

#include "platform/net/url_error.h"
#include "support/fake_backend.h"
#include "support/temp_dir.h"

TEST(URLContentsTest, ReadsFilesAndHTTPAndFailsInsteadOfHanging) {
  TempDir dir;
  std::ofstream(dir.str() + "/sound.wav") << "bytes on disk";
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
  }
}
