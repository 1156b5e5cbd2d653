#include "toolkit/session_upload_fetcher.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "fetcher_test_support.h"
#include "platform/foundation/notification_center.h"
#include "support/temp_dir.h"

using Upload = ZSDK_ZTKSessionUploadFetcher;

namespace {

// The chunks an upload sends from offset 0 when every chunk succeeds.
std::vector<ZTKUploadChunkPlan> chunksOf(std::int64_t chunkSize, std::int64_t fullLength, std::int64_t granularity,
                                         bool isFileURLSource) {
  std::vector<ZTKUploadChunkPlan> chunks;
  for (std::int64_t offset = 0;;) {
    chunks.push_back(planUploadChunk(chunkSize, offset, fullLength, granularity, isFileURLSource));
    offset = chunks.back().offset + chunks.back().length;
    if (chunks.back().command != "upload") return chunks;
  }
}

Data patterned(std::size_t size) {
  Data data;
  data.bytes.resize(size);
  for (std::size_t i = 0; i < size; ++i) data.bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
  return data;
}

std::uint64_t hashOf(const Data& data) { return fnv1a(kFNV1aOffset, data.data(), data.size()); }

}  // namespace

TEST(UploadChunkPlan, SizesCommandsAndAlignment) {
  using P = ZTKUploadChunkPlan;
  const std::int64_t MiB = 1 << 20;
  EXPECT_EQ(chunksOf(20 * MiB, 25 * MiB, 0, false),
            (std::vector<P>{
                {0, 10485760, "upload"}, {10485760, 10485760, "upload"}, {20971520, 5242880, "upload, finalize"}}));
  EXPECT_EQ(chunksOf(30 * MiB, 25 * MiB, 0, true), (std::vector<P>{{0, 25 * MiB, "upload, finalize"}}));
  EXPECT_EQ(chunksOf(20 * MiB, 25 * MiB, 0, true).size(), 3u);  // a file chunk not covering it is capped
  EXPECT_EQ(planUploadChunk(998000, 0, 1000000, 0, false), (P{0, 1000000, "upload, finalize"}));
  EXPECT_EQ(planUploadChunk(997500, 0, 1000000, 0, false), (P{0, 997500, "upload"}));
  EXPECT_EQ(planUploadChunk(1000000, 0, 3000000, 262144, false), (P{0, 786432, "upload"}));
  EXPECT_EQ(planUploadChunk(1000000, 300000, 3000000, 262144, false), (P{262144, 786432, "upload"}));
  EXPECT_EQ(planUploadChunk(1000, 0, 3000000, 262144, false), (P{0, 262144, "upload"}));
  EXPECT_EQ(planUploadChunk(1000, 0, 0, 0, false), (P{0, 0, "finalize"}));
}

TEST(UploadChunkPlan, QueryDelaysGrowAndGiveUp) {
  struct Case {
    int failures;
    TimeInterval since;
    std::optional<TimeInterval> delay;
  };
  for (const Case& c :
       {Case{1, 0, 1.5}, Case{2, 1.5, 3.0}, Case{4, 10, 10.0}, Case{9, 29, 10.0}, Case{10, 1, {}}, Case{3, 30, {}}}) {
    EXPECT_EQ(uploadQueryDelay(c.failures, c.since, 1.5, 2.0, 10.0), c.delay) << c.failures << " " << c.since;
  }
}

// Points the process's temporary directory elsewhere for as long as it lives.
class TemporaryDirectoryOverride {
 public:
  explicit TemporaryDirectoryOverride(const std::string& path) {
    if (const char* value = std::getenv("TMPDIR")) previous_ = value;
    ::setenv("TMPDIR", path.c_str(), 1);
  }
  ~TemporaryDirectoryOverride() { previous_ ? ::setenv("TMPDIR", previous_->c_str(), 1) : ::unsetenv("TMPDIR"); }

 private:
  std::optional<std::string> previous_;
};

class UploadFetcherTest : public FetcherTest {
 protected:
  UploadFetcherTest() { server.serveResumableUpload("/up"); }

  std::shared_ptr<Upload> upload(std::int64_t chunkSize, std::string method = "get") {
    URLRequest request(*URL::URLWithString(server.url("up")));
    request.httpMethod = std::move(method);
    auto fetcher = Upload::uploadFetcherWithRequest(request, "application/x-test", chunkSize, nullptr);
    fetcher->setUseBackgroundSession(false);
    loopback(fetcher);
    return fetcher;
  }

  // The running totals of the progress reports, each checked against the expected whole.
  static std::shared_ptr<std::vector<std::int64_t>> recordTotals(const std::shared_ptr<Upload>& fetcher,
                                                                 std::int64_t expectedTotal) {
    auto totals = std::make_shared<std::vector<std::int64_t>>();
    fetcher->setSendProgressBlock([totals, expectedTotal](std::int64_t, std::int64_t total, std::int64_t expected) {
      totals->push_back(total);
      EXPECT_EQ(expected, expectedTotal);
    });
    return totals;
  }

  // Runs the loop until the completion ran, skipping each wait before an offset query.
  FetchResult finish(const std::shared_ptr<Upload>& fetcher, const std::shared_ptr<FetchResult>& result) {
    for (int i = 0; i < 30; ++i) {
      if (!time.runUntil([&] { return result->calls > 0 || fetcher->retryTimer(); }, 10) || result->calls > 0) break;
      result->waits.push_back(fetcher->retryTimer()->timeInterval());
      time.advance(result->waits.back());
    }
    return *result;
  }

  std::vector<std::string> commands() const {
    std::vector<std::string> out;
    for (const auto& r : server.requests()) out.push_back(r.header("X-Zedodo-Upload-Command").value_or(""));
    return out;
  }
};

TEST_F(UploadFetcherTest, SmallBodyGoesInOneChunkAfterTheStart) {
  auto fetcher = upload(1 << 20);
  fetcher->setUploadData(Data::fromString("hello"));
  const auto totals = recordTotals(fetcher, 5);
  const auto result = finish(fetcher, begin(fetcher));
  ASSERT_FALSE(result.error) << result.error->description();
  EXPECT_EQ(result.data, Data::fromString("uploaded 5"));
  EXPECT_EQ(fetcher->statusCode(), 200);

  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].method, "POST");
  EXPECT_EQ(requests[0].header("X-Zedodo-Upload-Protocol"), "resumable");
  EXPECT_EQ(requests[0].header("X-Zedodo-Upload-Content-Type"), "application/x-test");
  EXPECT_EQ(requests[0].header("X-Zedodo-Upload-Content-Length"), "5");
  EXPECT_EQ(requests[1].method, "PUT");
  EXPECT_EQ(requests[1].path, "/up/session/1");
  EXPECT_EQ(requests[1].header("X-Zedodo-Upload-Command"), "upload, finalize");
  EXPECT_EQ(requests[1].header("X-Zedodo-Upload-Offset"), "0");
  EXPECT_EQ(server.resumableUploads().at(0).received, "hello");
  ASSERT_FALSE(totals->empty());
  EXPECT_EQ(totals->back(), 5);
  EXPECT_FALSE(fetcher->uploadLocationURL());  // finished: a later stop sends no cancel
}

TEST_F(UploadFetcherTest, FileGoesInAlignedChunksWithProgressOverTheWhole) {
  server.serveResumableUpload("/up", 65536);
  TempDir dir("upload");
  const Data content = patterned(600000);
  const auto path = dir.path() / "body.bin";
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(content.data()), content.size());
  auto fetcher = upload(250000, "PUT");
  fetcher->setUploadFileURL(URL::fileURLWithPath(path.string()));
  const auto totals = recordTotals(fetcher, 600000);
  const auto result = finish(fetcher, begin(fetcher));
  ASSERT_FALSE(result.error) << result.error->description();

  EXPECT_EQ(server.requests().at(0).method, "PUT");
  EXPECT_EQ(commands(), (std::vector<std::string>{"start", "upload", "upload", "upload", "upload, finalize"}));
  std::vector<std::string> offsets;
  for (const auto& r : server.requests()) offsets.push_back(r.header("X-Zedodo-Upload-Offset").value_or("-"));
  EXPECT_EQ(offsets, (std::vector<std::string>{"-", "0", "196608", "393216", "589824"}));
  const auto received = server.resumableUploads().at(0);
  EXPECT_EQ(received.receivedLength, 600000u);
  EXPECT_EQ(received.receivedHash, hashOf(content));
  EXPECT_TRUE(std::is_sorted(totals->begin(), totals->end()));
  ASSERT_FALSE(totals->empty());
  EXPECT_EQ(totals->back(), 600000);
}

// Chunk files are made in the temporary directory (the next one while a chunk is sent) and gone
// once the upload is done with them: sent, dropped by a pause or a stop, or cut short by a file
// smaller than its stated length.
TEST_F(UploadFetcherTest, ChunkFilesAreRemovedWhateverBecomesOfTheirChunk) {
  TempDir dir("upload");
  TempDir chunkFiles("upload_chunks");
  const TemporaryDirectoryOverride chunksGoTo(chunkFiles.str());
  const auto fileCount = [&] {
    const std::filesystem::directory_iterator files(chunkFiles.path());
    return std::distance(std::filesystem::begin(files), std::filesystem::end(files));
  };
  const Data content = patterned(600000);
  const auto path = dir.path() / "body.bin";
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(content.data()), content.size());

  std::shared_ptr<Upload> fetcher = upload(250000, "PUT");
  fetcher->setUploadFileURL(URL::fileURLWithPath(path.string()));
  const auto token = NotificationCenter::defaultCenter()->addObserverForName(
      kZTKSessionFetcherUploadLocationObtainedNotification, nullptr, nullptr,
      [&](const Notification&) { fetcher->pauseFetching(); });
  auto result = begin(fetcher);
  ASSERT_TRUE(time.runUntil([&] { return fetcher->uploadLocationURL().has_value(); }));
  NotificationCenter::defaultCenter()->removeObserver(token);
  ASSERT_TRUE(fetcher->waitForCompletionWithTimeout(10));
  fetcher->resumeFetching();
  ASSERT_FALSE(finish(fetcher, result).error);
  EXPECT_EQ(commands(), (std::vector<std::string>{"start", "query", "upload", "upload", "upload, finalize"}));
  EXPECT_EQ(server.resumableUploads().at(0).receivedHash, hashOf(content));
  EXPECT_TRUE(time.runUntil([&] { return fileCount() == 0; }));

  // Stopped while the first chunk waits for its answer, with the second one's file made.
  server.interruptResumableUpload("upload", {{.delay = 1}});
  auto stopped = upload(250000, "PUT");
  stopped->setUploadFileURL(URL::fileURLWithPath(path.string()));
  auto stoppedResult = begin(stopped);
  ASSERT_TRUE(time.runUntil([&] { return fileCount() == 2; }));
  stopped->stopFetching();
  EXPECT_TRUE(time.runUntil([&] { return fileCount() == 0; }));
  EXPECT_EQ(stoppedResult->calls, 0);

  auto shortFile = upload(250000, "PUT");
  shortFile->setUploadFileURL(URL::fileURLWithPath(path.string()));
  shortFile->setUploadFileLength(700000);
  const auto failed = finish(shortFile, begin(shortFile));
  ASSERT_TRUE(failed.error);
  EXPECT_EQ(failed.error->domain, kZTKSessionFetcherErrorDomain);
  EXPECT_EQ(failed.code(), ZTKSessionFetcherErrorUploadChunkUnavailable);
  EXPECT_TRUE(time.runUntil([&] { return fileCount() == 0; }));
}

TEST_F(UploadFetcherTest, FailedChunksAreQueriedAndResumed) {
  // A retryable failure and a 400 both lead to a query and a resend from the received size; a 404
  // ends the upload and keeps the location for a later resume.
  server.interruptResumableUpload("upload", {{.status = 503}, {.status = 400}});
  auto fetcher = upload(4096);
  fetcher->setRetryEnabled(true);
  fetcher->setMinRetryInterval(1);
  const Data content = patterned(10000);
  fetcher->setUploadData(content);
  const auto result = finish(fetcher, begin(fetcher));
  ASSERT_FALSE(result.error) << result.error->description();
  EXPECT_EQ(commands(),
            (std::vector<std::string>{"start", "upload", "query", "upload", "query", "upload", "upload, finalize"}));
  EXPECT_EQ(result.waits, (std::vector<TimeInterval>{1, 2}));
  EXPECT_EQ(server.resumableUploads().at(0).received, content.toString());

  server.clearRequests();
  server.interruptResumableUpload("upload", {{.status = 404}});
  auto gone = upload(4096);
  gone->setUploadData(content);
  const auto failed = finish(gone, begin(gone));
  EXPECT_EQ(failed.code(), 404);
  EXPECT_EQ(commands(), (std::vector<std::string>{"start", "upload"}));
  EXPECT_TRUE(gone->uploadLocationURL());
}

TEST_F(UploadFetcherTest, FailedQueryEndsTheUpload) {
  server.interruptResumableUpload("upload", {{.status = 400}});
  server.interruptResumableUpload("query", {{.status = 401}});
  auto fetcher = upload(4096);
  fetcher->setUploadData(patterned(10000));
  const auto result = finish(fetcher, begin(fetcher));
  EXPECT_EQ(result.calls, 1);
  EXPECT_EQ(result.code(), 401);
  EXPECT_EQ(commands(), (std::vector<std::string>{"start", "upload", "query"}));
}

TEST_F(UploadFetcherTest, LostAnswerToTheLastChunkIsSettledByTheQuery) {
  // The server kept the last chunk but its answer was lost (a 503 here): a final answer to the
  // query holding every byte is a finished upload; a smaller or missing size is not.
  struct Case {
    std::vector<std::pair<std::string, std::string>> queryHeaders;
    bool succeeds;
  };
  const Case cases[] = {
      {{{"X-Zedodo-Upload-Status", "final"}, {"X-Zedodo-Upload-Size-Received", "10000"}}, true},
      {{{"X-Zedodo-Upload-Status", "final"}, {"X-Zedodo-Upload-Size-Received", "9999"}}, false},
      {{{"X-Zedodo-Upload-Status", "final"}}, false},
  };
  for (const Case& c : cases) {
    server.clearRequests();
    server.interruptResumableUpload("upload, finalize", {{.status = 503}});
    server.interruptResumableUpload("query", {{.headers = c.queryHeaders, .body = "stored 10000"}});
    auto fetcher = upload(1 << 20);
    fetcher->setRetryEnabled(true);
    fetcher->setMinRetryInterval(1);
    fetcher->setUploadData(patterned(10000));
    const auto result = finish(fetcher, begin(fetcher));
    EXPECT_EQ(commands(), (std::vector<std::string>{"start", "upload, finalize", "query"}));
    EXPECT_EQ(result.calls, 1);
    if (c.succeeds) {
      ASSERT_FALSE(result.error) << result.error->description();
      EXPECT_EQ(result.data, Data::fromString("stored 10000"));
      EXPECT_EQ(fetcher->statusCode(), 200);
      EXPECT_FALSE(fetcher->uploadLocationURL());
    } else {
      ASSERT_TRUE(result.error);
      EXPECT_EQ(result.error->domain, kZTKSessionFetcherStatusDomain);
      EXPECT_EQ(result.code(), 501);
    }
  }
}

TEST_F(UploadFetcherTest, OffsetsPastTwoGiBAreKept) {
  constexpr std::int64_t kLength = 3'000'000'000;
  auto fetcher = Upload::uploadFetcherWithLocation(URL::URLWithString(server.url("up/session/1")),
                                                   "application/x-test", 1 << 20, nullptr);
  fetcher->setUseBackgroundSession(false);
  loopback(fetcher);
  auto asked = std::make_shared<std::vector<std::int64_t>>();
  fetcher->setUploadDataLength(kLength, [asked](std::int64_t offset, std::int64_t length, auto response) {
    asked->push_back(offset);
    response(Data(std::vector<std::uint8_t>(static_cast<std::size_t>(std::min<std::int64_t>(length, 1 << 20)))),
             std::nullopt);
  });
  server.interruptResumableUpload(
      "query", {{.headers = {{"X-Zedodo-Upload-Status", "active"}, {"X-Zedodo-Upload-Size-Received", "2999999000"}}}});
  server.interruptResumableUpload("upload, finalize", {{.headers = {{"X-Zedodo-Upload-Status", "final"}}, .body = "ok"}});
  const auto result = finish(fetcher, begin(fetcher));
  ASSERT_FALSE(result.error) << result.error->description();
  EXPECT_EQ(result.data, Data::fromString("ok"));
  EXPECT_EQ(*asked, std::vector<std::int64_t>{2999999000});
  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].header("X-Zedodo-Upload-Offset"), "2999999000");
  EXPECT_EQ(requests[1].header("Content-Length"), "1000");
}

TEST_F(UploadFetcherTest, RetriesWithoutProgressAreBounded) {
  server.interruptResumableUpload("upload", std::vector<ScriptedReply>(20, ScriptedReply{.status = 503}));
  auto fetcher = upload(4096);
  fetcher->setRetryEnabled(true);
  fetcher->setMinRetryInterval(1);
  fetcher->setMaxRetryInterval(4);
  fetcher->setUploadData(patterned(10000));
  const auto result = finish(fetcher, begin(fetcher));
  EXPECT_EQ(result.code(), 503);
  // The waits grow to the 4 s cap; the sixth failure comes 15 s after the first, past 3 x 4 s.
  EXPECT_EQ(result.waits, (std::vector<TimeInterval>{1, 2, 4, 4, 4}));
  EXPECT_EQ(server.requestCount(), 1u + 6 + 5);
}

TEST_F(UploadFetcherTest, PauseResumeAndCancelOnStop) {
  std::shared_ptr<Upload> fetcher = upload(4096);
  fetcher->setUploadData(patterned(5000));
  const auto token = NotificationCenter::defaultCenter()->addObserverForName(
      kZTKSessionFetcherUploadLocationObtainedNotification, nullptr, nullptr,
      [&](const Notification&) { fetcher->pauseFetching(); });
  auto result = begin(fetcher);
  ASSERT_TRUE(time.runUntil([&] { return fetcher->uploadLocationURL().has_value(); }));
  time.runUntilIdle();
  EXPECT_EQ(commands(), (std::vector<std::string>{"start"}));
  fetcher->resumeFetching();
  EXPECT_EQ(finish(fetcher, result).error, std::nullopt);
  EXPECT_EQ(commands(), (std::vector<std::string>{"start", "query", "upload, finalize"}));
  const std::size_t before = server.requestCount();
  fetcher->resumeFetching();  // not paused: nothing happens
  time.runUntilIdle();
  EXPECT_EQ(server.requestCount(), before);

  // A stop with a known location cancels the upload on the server, and calls nobody back.
  server.clearRequests();
  auto stopped = upload(4096);
  fetcher = stopped;
  stopped->setUploadData(patterned(5000));
  auto stoppedResult = begin(stopped);
  ASSERT_TRUE(time.runUntil([&] { return stopped->uploadLocationURL().has_value(); }));
  stopped->stopFetching();
  ASSERT_TRUE(server.waitForRequestCount(2));
  EXPECT_EQ(commands(), (std::vector<std::string>{"start", "cancel"}));
  EXPECT_TRUE(server.resumableUploads().back().cancelled);
  // The cancel request ends before the test does, or its fetcher outlives it.
  EXPECT_TRUE(time.runUntil([&] { return stopped->activeFetcher() == stopped; }));
  NotificationCenter::defaultCenter()->removeObserver(token);

  // Stopped before the location is known: no cancel.
  server.clearRequests();
  auto early = upload(4096);
  early->setUploadData(patterned(5000));
  auto earlyResult = begin(early);
  early->stopFetching();
  EXPECT_EQ(early->activeFetcher(), early);  // no cancel request in flight
  time.runUntilIdle();
  EXPECT_EQ(stoppedResult->calls + earlyResult->calls, 0);
}

TEST_F(UploadFetcherTest, BackgroundMetadataRebuildsOnlyConsistentUploads) {
  Value::Dictionary metadata{
      {"_upChunk", true}, {"_upFileURL", "file:///tmp/x.bin"},          {"_upFileLen", 100},
      {"_upOffset", 40},  {"_upLocURL", "https://uploads.example/s/1"}, {"_uploadMIME", "image/png"},
      {"_upChSize", 0}};
  auto rebuilt = Upload::uploadFetcherForSessionIdentifierMetadata(metadata);
  ASSERT_TRUE(rebuilt);
  EXPECT_EQ(rebuilt->currentOffset(), 40);
  EXPECT_EQ(rebuilt->fullUploadLength(), 100);
  EXPECT_EQ(rebuilt->chunkSize(), std::numeric_limits<std::int64_t>::max());
  EXPECT_TRUE(rebuilt->allowedInsecureSchemes().empty());
  metadata["_upLocURL"] = "http://uploads.example/s/1";
  EXPECT_EQ(Upload::uploadFetcherForSessionIdentifierMetadata(metadata)->allowedInsecureSchemes(),
            std::vector<std::string>{"http"});
  metadata["_upOffset"] = 101;
  EXPECT_FALSE(Upload::uploadFetcherForSessionIdentifierMetadata(metadata));
  metadata.erase("_upFileLen");
  metadata["_upOffset"] = 0;
  EXPECT_FALSE(Upload::uploadFetcherForSessionIdentifierMetadata(metadata));
}
