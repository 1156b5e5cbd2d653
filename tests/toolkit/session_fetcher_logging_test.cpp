#include "toolkit/session_fetcher_logging.h"

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "fetcher_test_support.h"
#include "platform/foundation/class_registry.h"
#include "support/temp_dir.h"
#include "toolkit/read_monitor_input_stream.h"

namespace fs = std::filesystem;
using Logging = ZSDK_ZTKSessionFetcherLogging;

namespace {

std::string slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

bool contains(const std::string& text, std::string_view part) { return text.find(part) != std::string::npos; }

}  // namespace

TEST(FetcherLoggingText, RunFolderNamesCountUpToNineteen) {
  struct Case {
    int existing;  // base, then base_2 ... base_N exist
    std::string expected;
  };
  for (const Case& c : {Case{0, "b"}, Case{1, "b_2"}, Case{3, "b_4"}, Case{18, "b_19"}, Case{30, "b_19"}}) {
    std::set<std::string> present;
    if (c.existing >= 1) present.insert("b");
    for (int i = 2; i <= c.existing; ++i) present.insert("b_" + std::to_string(i));
    EXPECT_EQ(Logging::chooseRunFolder("b", [&](const std::string& p) { return present.count(p) > 0; }), c.expected)
        << c.existing;
  }
}

TEST(FetcherLoggingText, SecretsAreSnipped) {
  const auto json = Logging::formattedStringFromData(
      Data::fromString(R"({"access_token":"A1","refresh_token":"R1","id_token":"I1","scope":"s"})"),
      "application/json; charset=utf-8");
  ASSERT_TRUE(json);
  EXPECT_FALSE(contains(*json, "A1") || contains(*json, "R1") || contains(*json, "I1")) << *json;
  EXPECT_TRUE(contains(*json, "\"scope\": \"s\"")) << *json;

  EXPECT_EQ(Logging::headersStringForDictionary({{"Authorization", "Bearer x.y"}, {"Accept", "*/*"}}),
            "  Accept: */*\n  Authorization: Bearer _snip_\n");
  EXPECT_EQ(Logging::headersStringForDictionary({{"Authorization", "OAuth oauth_token=\"t\", v=1"}}),
            "  Authorization: OAuth _snip_\n");
  // Names and schemes in any case; cookies and Basic credentials too.
  EXPECT_EQ(Logging::headersStringForDictionary({{"authorization", "bearer x.y"}}), "  authorization: bearer _snip_\n");
  EXPECT_EQ(Logging::headersStringForDictionary({{"AUTHORIZATION", "Basic dXNlcjpwYXNz"}}),
            "  AUTHORIZATION: Basic _snip_\n");
  EXPECT_EQ(Logging::headersStringForDictionary({{"cookie", "sid=c1; b=c2"}, {"Set-Cookie", "sid=c3; Path=/"}}),
            "  Set-Cookie: _snip_\n  cookie: _snip_\n");
  EXPECT_EQ(Logging::snipSubstringOfString("a=1&refresh_token=r&b=2", "refresh_token=", "&"),
            "a=1&refresh_token=_snip_&b=2");
  EXPECT_EQ(Logging::snipSubstringOfString("a=1", "refresh_token=", "&"), "a=1");
  EXPECT_EQ(Logging::snipSubstringOfString(std::nullopt, "x", "&"), std::nullopt);
}

TEST(FetcherLoggingText, StreamBodies) {
  EXPECT_EQ(Logging::stringFromStreamData(Data(std::vector<std::uint8_t>(10, 0xFF)), ""), "<<10 bytes>>");
  EXPECT_EQ(Logging::stringFromStreamData(Data::fromString("plain"), ""), "plain");
  EXPECT_EQ(Logging::stringFromStreamData(std::nullopt, ""), std::nullopt);
  Data multipart = Data::fromString("--B\r\nA: 1\r\n\r\ntext\r\n--B\r\nK: v\r\n\r\n");
  multipart.bytes.insert(multipart.bytes.end(), {0xFF, 0x00, 0x81});
  multipart.append("\r\n--B--\r\n");
  EXPECT_EQ(*Logging::stringFromStreamData(multipart, "multipart/related"),
            "--B\r\nA: 1\r\n\r\ntext\r\n--B\r\r\nK: v\r\n\r\n\r<<5 bytes>>\r--B--\r\n");
}

class FetcherLoggingTest : public FetcherTest {
 protected:
  FetcherLoggingTest() {
    Logging::setLoggingDirectory(dir.str());
    Logging::setLoggingProcessName("test proc");
    Logging::setLoggingDateStamp("7-14_02-40-00AM");
    Logging::setLoggingEnabled(true);
  }
  ~FetcherLoggingTest() override {
    Logging::setLoggingEnabled(false);
    Fetcher::setLogging(nullptr);
    Logging::setLoggingDirectory(std::nullopt);
    Logging::setLoggingProcessName(std::nullopt);
    Logging::setLoggingDateStamp(std::nullopt);
  }
  fs::path runFolder() const { return dir.path() / "test_proc_log_7-14_02-40-00AM"; }

  TempDir dir{"fetchlog"};
};

TEST_F(FetcherLoggingTest, RedirectedFetchWritesIndexRecordsAndLink) {
  server.reply("POST", "/moved", {.status = 307, .headers = {{"Location", server.url("token")}}});
  server.reply("POST", "/token",
               {.body = R"({"access_token":"secretA","expires_in":3600})", .contentType = "application/json"});
  auto fetcher = fetcherFor("moved");
  fetcher->mutableRequest()->setValue("Bearer secretB", "Authorization");
  fetcher->setBodyData(Data::fromString("grant_type=x&code=secretC&client_id=c"));
  fetcher->setComment("token fetch");
  ASSERT_FALSE(fetch(fetcher).error);

  const std::string record = fetcher->log().value_or("");
  EXPECT_TRUE(contains(record, "Redirected from " + server.url("moved"))) << record;
  EXPECT_TRUE(contains(record, "Request: POST " + server.url("token"))) << record;
  EXPECT_TRUE(contains(record, "code=_snip_&client_id=c")) << record;
  EXPECT_TRUE(contains(record, "Response: status 200")) << record;
  for (const char* secret : {"secretA", "secretB", "secretC"}) EXPECT_FALSE(contains(record, secret)) << secret;

  struct stat info {};
  ASSERT_EQ(::stat(runFolder().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  const std::string html = slurp(runFolder() / Logging::htmlFileName());
  EXPECT_TRUE(
      html.starts_with("<html><head><meta http-equiv=\"content-type\" content=\"text/html; charset=UTF-8\">"
                       "<title>test_proc HTTP fetch log 7-14_02-40-00AM</title>"))
      << html;
  EXPECT_TRUE(contains(html, "<FONT COLOR='#990066'><i>redirected from " + server.url("moved") + "</i></FONT><br>"));
  EXPECT_TRUE(contains(html, "token fetch &nbsp;&nbsp;&nbsp;&nbsp; </b><a href='fetch_"));
  EXPECT_TRUE(contains(html, "&nbsp;&nbsp;&nbsp;<i>authorized, non-SSL</i>"));
  EXPECT_EQ(fs::read_symlink(dir.path() / "test_proc_log__log_newest.html"), runFolder() / Logging::htmlFileName());
  std::size_t textFiles = 0;
  for (const auto& entry : fs::directory_iterator(runFolder())) textFiles += entry.path().extension() == ".txt";
  EXPECT_EQ(textFiles, 2u);

  // The next run of the same stamp goes to its own folder.
  Logging::setLoggingDateStamp("7-14_02-40-00AM");
  EXPECT_EQ(Logging::logDirectoryForCurrentRun(), runFolder().string() + "_2");
}

TEST_F(FetcherLoggingTest, RecordCutsEverySecretOfRequestAndResponse) {
  server.reply("POST", "/login", {.headers = {{"Set-Cookie", "sid=secretS; Path=/"}}, .body = "ok"});
  auto fetcher = fetcherFor("login");
  fetcher->mutableRequest()->setValue("bearer secretH", "authorization");
  fetcher->setBodyData(Data::fromString(
      "Passwd=secret1&client_secret=secret2&refresh_token=secret3&postcode=12&refresh_token=secret4"
      "&Passwd=secret5&code=secret6&assertion=secret7&client_secret=secret8&assertion=secret9"));
  ASSERT_FALSE(fetch(fetcher).error);

  const std::string record = fetcher->log().value_or("");
  EXPECT_TRUE(contains(record, "authorization: bearer _snip_")) << record;
  EXPECT_TRUE(contains(record, "Set-Cookie: _snip_")) << record;
  EXPECT_TRUE(contains(record, "Passwd=_snip_&client_secret=_snip_&refresh_token=_snip_&postcode=12&")) << record;
  for (const char* secret : {"secretH", "secretS", "secret1", "secret2", "secret3", "secret4", "secret5", "secret6",
                             "secret7", "secret8", "secret9"})
    EXPECT_FALSE(contains(record, secret)) << secret;
}

TEST_F(FetcherLoggingTest, UploadedStreamsAreMonitoredWhenTheClassExists) {
  auto fetcher = fetcherFor("upload");
  auto stream = Logging::shared()->loggedInputStreamForInputStream(
      *fetcher, InputStream::inputStreamWithData(Data::fromString("payload")));
  ASSERT_TRUE(std::dynamic_pointer_cast<ZSDK_ZTKReadMonitorInputStream>(stream));
  std::uint8_t buffer[4];
  stream->open();
  while (stream->read(buffer, sizeof buffer) > 0) {
  }
  EXPECT_EQ(fetcher->loggedStreamData(), Data::fromString("payload"));

  auto& registry = ClassRegistry::shared();
  const auto factory =
      registry.factory<ZSDK_ZTKReadMonitorInputStream, std::shared_ptr<InputStream>>("ZSDK_ZTKReadMonitorInputStream");
  registry.unregisterClass<ZSDK_ZTKReadMonitorInputStream, std::shared_ptr<InputStream>>(
      "ZSDK_ZTKReadMonitorInputStream");
  auto plain = InputStream::inputStreamWithData(Data::fromString("x"));
  EXPECT_EQ(Logging::shared()->loggedInputStreamForInputStream(*fetcher, plain), plain);
  EXPECT_EQ(fetcher->loggedStreamData(),
            Data::fromString("<<Uploaded stream log unavailable without ZTKReadMonitorInputStream>>"));
  registry.registerClass<ZSDK_ZTKReadMonitorInputStream, std::shared_ptr<InputStream>>("ZSDK_ZTKReadMonitorInputStream",
                                                                                       factory);
}
