#include <gtest/gtest.h>

#include <fstream>

#include "fetcher_test_support.h"
#include "support/temp_dir.h"

namespace {

std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const std::filesystem::path& path, const std::string& text) { std::ofstream(path) << text; }

std::size_t filesIn(const std::filesystem::path& dir) {
  return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(dir), {}));
}

}  // namespace

using TransferTest = FetcherTest;

// A download replaces the destination in one step, and only when the answer is a success; a
// simulated answer with a destination is written the same way.
TEST_F(TransferTest, DownloadReplacesTheDestinationOnlyOnSuccess) {
  struct Case {
    int status;
    bool simulated;
    std::string expected;
    long code;
  };
  server.reply("GET", "/ok", {200, {}, "fresh"});
  server.reply("GET", "/missing", {404, {}, "gone"});
  for (const auto& c : {Case{200, false, "fresh", 0}, Case{404, false, "old", 404}, Case{200, true, "fresh", 0}}) {
    SCOPED_TRACE(testing::Message() << c.status << (c.simulated ? " simulated" : ""));
    TempDir dir;
    const auto destination = dir.path() / "file.bin";
    writeFile(destination, "old");
    auto fetcher = fetcherFor(c.status == 200 ? "/ok" : "/missing");
    fetcher->setDestinationFileURL(URL::fileURLWithPath(destination.string()));
    if (c.simulated) {
      fetcher->setTestBlock([](const auto&, const Fetcher::TestResponse& respond) {
        respond(httpResponse("http://127.0.0.1/ok", 200), Data::fromString("fresh"), std::nullopt);
      });
    }
    const auto result = fetch(fetcher);
    EXPECT_EQ(result.code(), c.code);
    EXPECT_EQ(readFile(destination), c.expected);
    EXPECT_EQ(filesIn(dir.path()), 1U);
    expectReleased(fetcher);
  }
}

// A known expected total below the bytes already written is wrong and goes out as unknown.
TEST_F(TransferTest, DownloadProgressBeyondTheExpectedTotalIsReportedAsUnknown) {
  auto fetcher = fetcherFor("/never");
  std::vector<std::array<std::int64_t, 3>> reports;
  fetcher->setDownloadProgressBlock([&](auto written, auto total, auto expected) {
    reports.push_back({written, total, expected});
  });
  fetcher->didWriteData(nullptr, nullptr, 100, 100, 100);
  fetcher->didWriteData(nullptr, nullptr, 50, 150, 100);
  fetcher->didWriteData(nullptr, nullptr, 10, 160, NSURLSessionTransferSizeUnknown);
  time.runUntilIdle();
  const std::int64_t unknown = NSURLSessionTransferSizeUnknown;
  EXPECT_EQ(reports, (std::vector<std::array<std::int64_t, 3>>{{100, 100, 100}, {50, 150, unknown}, {10, 160, unknown}}));
  expectReleased(fetcher);
}

// Bodies from a file, from a stream provider and from data reach the server unchanged.
TEST_F(TransferTest, UploadsFromFileStreamAndData) {
  TempDir dir;
  const auto bodyFile = dir.path() / "body.txt";
  writeFile(bodyFile, "from file");
  for (const std::string kind : {"file", "stream", "data"}) {
    SCOPED_TRACE(kind);
    server.clearRequests();
    auto fetcher = fetcherFor("/upload");
    if (kind == "file") fetcher->setBodyFileURL(URL::fileURLWithPath(bodyFile.string()));
    if (kind == "stream") {
      fetcher->setBodyStreamProvider([](const ZTKSessionFetcherBodyStreamProviderResponse& respond) {
        respond(InputStream::inputStreamWithData(Data::fromString("from stream")));
      });
    }
    if (kind == "data") {
      fetcher->setUseUploadTask(true);
      fetcher->setBodyData(Data::fromString("from data"));
    }
    EXPECT_EQ(fetch(fetcher).code(), 0);
    ASSERT_TRUE(server.lastRequest());
    EXPECT_EQ(server.lastRequest()->body, "from " + kind);
    expectReleased(fetcher);
  }
}

// The process-wide test block answers every fetch; the upload's progress goes out in thirds.
TEST_F(TransferTest, GlobalTestBlockSimulatesWithChunkedProgress) {
  Fetcher::setGlobalTestBlock([](const auto&, const Fetcher::TestResponse& respond) {
    respond(httpResponse("http://127.0.0.1/sim", 200), Data::fromString("answer"), std::nullopt);
  });
  auto fetcher = fetcherFor("/never");
  fetcher->setBodyData(Data::fromString("7 bytes"));
  std::vector<std::array<std::int64_t, 3>> sent;
  fetcher->setSendProgressBlock([&](auto chunk, auto total, auto expected) {
    sent.push_back({chunk, total, expected});
  });
  const auto result = fetch(fetcher);
  Fetcher::setGlobalTestBlock(nullptr);
  EXPECT_EQ(result.data->toString(), "answer");
  EXPECT_EQ(server.requestCount(), 0U);
  EXPECT_EQ(sent, (std::vector<std::array<std::int64_t, 3>>{{3, 3, 7}, {3, 6, 7}, {1, 7, 7}}));
  expectReleased(fetcher);
}

// After a restart a persisted background session has no tasks: its fetcher fails with -4 after a
// second and leaves the persisted list. Its identifier still tells where the download was going.
TEST_F(TransferTest, RestoredBackgroundSessionWithoutTasks) {
  TempDir dir;
  auto defaults = std::make_shared<UserDefaults>((dir.path() / "defaults.json").string());
  Fetcher::setFetcherUserDefaults(defaults);
  const std::string uuid = "0A1B2C3D-0000-4000-8000-000000000001";
  const std::string identifier =
      std::string(kZTKSessionIdentifierPrefix) + "_" + uuid + R"(_{"_destURL":"file:///tmp/out.bin"})";
  defaults->setObject(Value(Value::Array{Value(identifier)}), kZTKSessionFetcherPersistedSessionsKey);

  auto restored = Fetcher::fetchersForBackgroundSessions();
  ASSERT_EQ(restored.size(), 1U);
  auto fetcher = loopback(restored.front());
  EXPECT_EQ(fetcher->destinationFileURL()->absoluteString(), "file:///tmp/out.bin");
  EXPECT_EQ(fetcher->sessionIdentifierUUID(), uuid);
  EXPECT_FALSE(fetcher->sessionUserInfo());
  EXPECT_EQ(Fetcher::fetcherWithSessionIdentifier(identifier), fetcher);
  EXPECT_FALSE(Fetcher::fetcherWithSessionIdentifier("other.prefix_" + uuid));
  std::optional<long> code;
  fetcher->setCompletionHandler([&](auto, std::optional<NSError> error) { code = error ? error->code : 0; });
  time.advance(0.9);
  EXPECT_FALSE(code);
  time.advance(0.1);
  EXPECT_EQ(code, ZTKSessionFetcherErrorRestoredSessionWithoutTasks);
  restored.clear();
  expectReleased(fetcher);
  EXPECT_FALSE(defaults->arrayForKey(kZTKSessionFetcherPersistedSessionsKey));
  Fetcher::setFetcherUserDefaults(nullptr);
}
