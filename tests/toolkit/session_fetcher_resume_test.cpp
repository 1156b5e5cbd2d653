#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "fetcher_test_support.h"
#include "platform/foundation/class_registry.h"
#include "platform/net/url_error.h"
#include "support/temp_dir.h"

namespace {

std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string patterned(std::size_t length) {
  std::string text(length, '\0');
  for (std::size_t i = 0; i < length; ++i) text[i] = static_cast<char>('a' + (i * 7) % 26);
  return text;
}

ScriptedReply rangedReply(std::string body) {
  return {.body = std::move(body), .contentType = "application/octet-stream", .ranges = true};
}

std::vector<std::string> rangesAsked(const FakeBackend& server) {
  std::vector<std::string> ranges;
  for (const auto& request : server.requests()) ranges.push_back(request.header("Range").value_or("-"));
  return ranges;
}

// Holds a task's redirect so that the task is still running when the test wants it to be.
class RedirectHolder : public URLSessionDelegate {
 public:
  RedirectCompletion held;
  bool invalidated = false;
  void willPerformHTTPRedirection(const std::shared_ptr<URLSession>&, const std::shared_ptr<URLSessionTask>&,
                                  const std::shared_ptr<const HTTPURLResponse>&, const URLRequest&,
                                  RedirectCompletion completion) override {
    held = std::move(completion);
  }
  void didBecomeInvalidWithError(const std::shared_ptr<URLSession>&, const std::optional<NSError>&) override {
    invalidated = true;
  }
};

}  // namespace

using ResumeTest = FetcherTest;

// A stopped download hands its resume data to the resume block on the callback queue, though a
// stop silences every other callback; a fetcher made from that data asks only for the rest.
TEST_F(ResumeTest, StoppedDownloadGoesOnFromItsResumeData) {
  const std::string body = patterned(3000);
  auto stalled = rangedReply(body);
  stalled.stallAfterBodyBytes = 1000;
  server.replies("GET", "/file", {stalled, rangedReply(body)});
  TempDir dir;
  const auto destination = dir.path() / "out.bin";

  auto fetcher = fetcherFor("/file");
  fetcher->setDestinationFileURL(URL::fileURLWithPath(destination.string()));
  std::int64_t written = 0;
  fetcher->setDownloadProgressBlock([&](auto, std::int64_t total, auto) { written = total; });
  std::optional<Data> resumeData;
  bool onMain = false;
  fetcher->setResumeDataBlock([&](std::optional<Data> data) {
    onMain = RunLoop::isMainThread();
    resumeData = std::move(data);
  });
  auto result = begin(fetcher);
  ASSERT_TRUE(time.runUntil([&] { return written == 1000; }));
  fetcher->stopFetching();
  ASSERT_TRUE(time.runUntil([&] { return resumeData.has_value(); }));
  EXPECT_TRUE(onMain);
  EXPECT_FALSE(fetcher->resumeDataBlock());
  time.runUntilIdle();
  EXPECT_EQ(result->calls, 0);
  expectReleased(fetcher);

  auto resumed = loopback(Fetcher::fetcherWithDownloadResumeData(*resumeData));
  EXPECT_EQ(resumed->comment(), "Resuming download");
  resumed->setDestinationFileURL(URL::fileURLWithPath(destination.string()));
  std::vector<std::array<std::int64_t, 2>> progress;
  resumed->setDownloadProgressBlock([&](auto, std::int64_t total, std::int64_t expected) {
    progress.push_back({total, expected});
  });
  EXPECT_EQ(fetch(resumed).code(), 0);
  EXPECT_EQ(resumed->mutableRequest()->url->absoluteString(), server.url("file"));
  EXPECT_EQ(rangesAsked(server), (std::vector<std::string>{"-", "bytes=1000-"}));
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.back(), (std::array<std::int64_t, 2>{3000, 3000}));
  EXPECT_TRUE(readFile(destination) == body) << "the destination holds another body";
  expectReleased(resumed);
}

// A download cut off hands the error's resume data to the resume block. A fetcher resuming from
// it that is cut off again retries from where that attempt stopped, not from where it began.
TEST_F(ResumeTest, CutOffDownloadsGoOnFromTheErrorsResumeData) {
  const std::string body = patterned(3000);
  auto cut = [&](std::size_t bytes) {
    auto reply = rangedReply(body);
    reply.resetAfterBodyBytes = bytes;
    return reply;
  };
  server.replies("GET", "/file", {cut(1200), cut(800), rangedReply(body)});
  TempDir dir;
  const auto destination = dir.path() / "out.bin";

  auto fetcher = fetcherFor("/file");
  fetcher->setDestinationFileURL(URL::fileURLWithPath(destination.string()));
  std::optional<Data> resumeData;
  fetcher->setResumeDataBlock([&](std::optional<Data> data) { resumeData = std::move(data); });
  EXPECT_EQ(fetch(fetcher).code(), NSURLErrorNetworkConnectionLost);
  ASSERT_TRUE(time.runUntil([&] { return resumeData.has_value(); }));
  EXPECT_FALSE(std::filesystem::exists(destination));
  expectReleased(fetcher);

  auto resumed = loopback(Fetcher::fetcherWithDownloadResumeData(*resumeData));
  resumed->setDestinationFileURL(URL::fileURLWithPath(destination.string()));
  resumed->setRetryEnabled(true);
  const auto result = fetch(resumed);
  EXPECT_EQ(std::tuple(result.code(), result.waits.size()), std::tuple(0, 1u));
  EXPECT_EQ(rangesAsked(server), (std::vector<std::string>{"-", "bytes=1200-", "bytes=2000-"}));
  EXPECT_TRUE(readFile(destination) == body) << "the destination holds another body";
  expectReleased(resumed);
}

// In the same process a background session's task outlives the session object: a fetcher
// restored for its identifier takes the task over (no -4) and finishes it into the destination
// the identifier names.
TEST_F(ResumeTest, RestoredFetcherTakesOverTheTaskOfALiveBackgroundSession) {
  TempDir dir;
  Fetcher::setFetcherUserDefaults(std::make_shared<UserDefaults>((dir.path() / "defaults.json").string()));
  server.reply("GET", "/moved", {.status = 302, .headers = {{"Location", "/file"}}});
  server.reply("GET", "/file", {.body = "background body", .contentType = "application/octet-stream"});
  const auto destination = URL::fileURLWithPath((dir.path() / "out.bin").string());
  const std::string identifier = std::string(kZTKSessionIdentifierPrefix) +
                                 "_0A1B2C3D-0000-4000-8000-000000000002_{\"_destURL\":\"" +
                                 destination.absoluteString() + "\"}";

  auto holder = std::make_shared<RedirectHolder>();
  auto earlier = URLSession::sessionWithConfiguration(
      URLSessionConfiguration::backgroundSessionConfigurationWithIdentifier(identifier), holder, DispatchQueue::main());
  auto task = earlier->downloadTaskWithRequest(URLRequest(*URL::URLWithString(server.url("moved"))));
  task->resume();
  ASSERT_TRUE(time.runUntil([&] { return holder->held != nullptr; }));

  auto fetcher = loopback(Fetcher::fetcherWithSessionIdentifier(identifier));
  auto result = begin(fetcher);
  ASSERT_TRUE(time.runUntil([&] { return fetcher->sessionTask() == task; }));
  EXPECT_TRUE(fetcher->isFetching());
  holder->held(URLRequest(*URL::URLWithString(server.url("file"))));
  ASSERT_TRUE(time.runUntil([&] { return result->calls > 0; }));
  time.advance(1.5);
  EXPECT_EQ(std::tuple(result->calls, result->code()), std::tuple(1, 0));
  EXPECT_EQ(readFile(destination.path()), "background body");
  EXPECT_EQ(fetcher->mutableRequest()->url->absoluteString(), server.url("moved"));

  earlier->finishTasksAndInvalidate();
  ASSERT_TRUE(time.runUntil([&] { return holder->invalidated; }));
  task.reset();
  expectReleased(fetcher);
  Fetcher::setFetcherUserDefaults(nullptr);
}

// The defaults are decided once per process, so the factory is looked up in a process of its
// own: the prefixed class wins over the bare one, and is asked once.
TEST(FetcherUserDefaultsTest, ComeFromTheRegisteredFactoryOnce) {
  struct Factory : ZTKSessionFetcherUserDefaultsFactory {
    std::shared_ptr<UserDefaults> defaults;
    int* asked;
    Factory(std::shared_ptr<UserDefaults> d, int* a) : defaults(std::move(d)), asked(a) {}
    std::shared_ptr<UserDefaults> fetcherUserDefaults() override {
      ++*asked;
      return defaults;
    }
  };
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        TempDir dir;
        auto prefixed = std::make_shared<UserDefaults>((dir.path() / "prefixed.json").string());
        auto bare = std::make_shared<UserDefaults>((dir.path() / "bare.json").string());
        int asked = 0;
        auto& registry = ClassRegistry::shared();
        registry.registerClass<ZTKSessionFetcherUserDefaultsFactory>(
            "ZSDK_ZTKSessionFetcherUserDefaultsFactory", [&] { return std::make_shared<Factory>(prefixed, &asked); });
        registry.registerClass<ZTKSessionFetcherUserDefaultsFactory>(
            "ZTKSessionFetcherUserDefaultsFactory", [&] { return std::make_shared<Factory>(bare, &asked); });
        const bool chosen = Fetcher::fetcherUserDefaults() == prefixed && Fetcher::fetcherUserDefaults() == prefixed;
        std::exit(chosen && asked == 1 ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
  // No factory in this program: the standard defaults.
  EXPECT_EQ(Fetcher::fetcherUserDefaults(), UserDefaults::standard());
}
