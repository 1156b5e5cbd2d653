#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>

#include "analytics/zai.h"
#include "analytics/zai_dictionary_builder.h"
#include "analytics/zai_fields.h"
#include "analytics/zai_hit_store.h"
#include "analytics/zai_tracker.h"
#include "platform/foundation/user_defaults.h"
#include "support/fake_backend.h"
#include "support/swapper.h"
#include "support/temp_dir.h"
#include "support/virtual_time.h"

namespace {

class ZAITest : public ::testing::Test {
 protected:
  std::optional<ZAIDispatchResult> dispatchAndWait(ZAI& analytics) {
    std::optional<ZAIDispatchResult> result;
    analytics.dispatchWithCompletionHandler([&](ZAIDispatchResult r) { result = r; });
    time_.runUntil([&] { return result.has_value(); }, 20);
    return result;
  }

  static void sendScreenView(ZAITracker& tracker, const std::string& name) {
    tracker.set(kZAIScreenName, name);
    tracker.send(ZAIDictionaryBuilder::createScreenView()->build());
  }

  VirtualTime time_;
  TempDir dir_{"zai"};
  const std::string dbPath_ = dir_.str() + "/hits.sqlite";
};

TEST_F(ZAITest, ScreenViewsReachTheCollectorInOrderEachWithItsName) {
  FakeBackend collector;
  auto analytics = ZAI::make(dbPath_, URL::URLWithString(collector.url("collect")));
  auto tracker = analytics->trackerWithTrackingId("tracker-main");
  EXPECT_EQ(analytics->trackerWithTrackingId("tracker-other"), analytics->trackerWithTrackingId("tracker-other"));
  EXPECT_EQ(analytics->defaultTracker(), tracker) << "only the first tracker becomes the default";

  sendScreenView(*tracker, "Login");
  sendScreenView(*tracker, "Register & more");
  // Joins the round the hits started.
  EXPECT_EQ(dispatchAndWait(*analytics), ZAIDispatchResult::Good);

  auto requests = collector.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].method + " " + requests[0].path, "POST /collect");
  EXPECT_EQ(requests[0].header("Content-Type"), "application/x-www-form-urlencoded");
  // The client id is random, and the same in every hit.
  const std::string cid = requests[0].body.substr(std::string("cd=Login&cid=").size(), 36);
  EXPECT_EQ(requests[0].body, "cd=Login&cid=" + cid + "&t=screenview&tid=tracker-main&v=1");
  EXPECT_EQ(requests[1].body, "cd=Register%20%26%20more&cid=" + cid + "&t=screenview&tid=tracker-main&v=1");
  EXPECT_EQ(analytics->pendingHitCount(), 0u);
}

TEST_F(ZAITest, HitsWaitWhileTheCollectorIsDownAndSurviveARestart) {
  FakeBackend::ClosedPort down;
  {
    auto analytics = ZAI::make(dbPath_, URL::URLWithString(down.url("collect")));
    sendScreenView(*analytics->trackerWithTrackingId("tracker-1"), "Profile");
    EXPECT_EQ(dispatchAndWait(*analytics), ZAIDispatchResult::Error);
    EXPECT_EQ(analytics->pendingHitCount(), 1u);
  }

  FakeBackend collector;
  collector.replies("POST", "/collect", {{.status = 503}, {.status = 200}});
  auto restarted = ZAI::make(dbPath_);
  EXPECT_EQ(restarted->pendingHitCount(), 1u);
  restarted->setDispatchURL(URL::URLWithString(collector.url("collect")));
  // Setting the address starts a round, which meets the 503. This call joins that round, or,
  // when this thread comes later than the 503, starts the next one.
  auto result = dispatchAndWait(*restarted);
  if (result == ZAIDispatchResult::Error) {
    EXPECT_EQ(restarted->pendingHitCount(), 1u);
    result = dispatchAndWait(*restarted);
  }
  // The 503 left the hit stored: the next try delivers it.
  EXPECT_EQ(result, ZAIDispatchResult::Good);
  EXPECT_EQ(restarted->pendingHitCount(), 0u);

  auto requests = collector.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].body, requests[1].body);
  EXPECT_EQ(requests[1].body.find("cd=Profile&"), 0u);
}

TEST_F(ZAITest, NothingIsSentWithoutADispatchURLAndARejectedHitIsDropped) {
  auto analytics = ZAI::make(dbPath_);
  sendScreenView(*analytics->trackerWithTrackingId("tracker-2"), "Login");
  EXPECT_EQ(dispatchAndWait(*analytics), ZAIDispatchResult::NoData);
  EXPECT_EQ(analytics->pendingHitCount(), 1u);

  FakeBackend collector;
  collector.reply("POST", "/collect", {.status = 400});
  analytics->setDispatchURL(URL::URLWithString(collector.url("collect")));
  EXPECT_EQ(dispatchAndWait(*analytics), ZAIDispatchResult::NoData);
  EXPECT_EQ(collector.requestCount(), 1u);
  EXPECT_EQ(analytics->pendingHitCount(), 0u) << "a hit the collector refuses for good is not retried forever";
}

TEST_F(ZAITest, AnUnparsableDispatchURLIsReportedAtStart) {
  // A fresh process: the shared component is made once per process.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        setenv("DORVALE_ANALYTICS_URL", "http://bad host/collect", 1);
        UserDefaults::setApplicationDataDirectory(dir_.str());
        std::exit(ZAI::sharedInstance()->dispatchURL() ? 1 : 0);
      },
      ::testing::ExitedWithCode(0), "DORVALE_ANALYTICS_URL is not a URL");
}

// The hits say what the student looked at: the store is private whatever the umask, also when
// an earlier version left it readable by everyone; a folder it did not create keeps its mode.
TEST_F(ZAITest, TheHitStoreAndTheFoldersItCreatesArePrivate) {
  auto mode = [](const std::string& path) {
    struct stat st {};
    std::ostringstream octal;
    if (::stat(path.c_str(), &st) == 0) octal << std::oct << (st.st_mode & 07777);
    return octal.str();
  };
  ASSERT_EQ(::chmod(dir_.str().c_str(), 01777), 0);
  const mode_t umask = ::umask(022);
  const std::string folder = dir_.str() + "/data/analytics";
  auto store = ZAIHitStore::open(folder + "/hits.sqlite");
  ASSERT_TRUE(store);
  EXPECT_TRUE(store->add("cd=Login", 10));
  EXPECT_EQ(mode(dir_.str()), "1777");
  EXPECT_EQ(mode(dir_.str() + "/data"), "700");
  EXPECT_EQ(mode(folder), "700");
  EXPECT_EQ(mode(folder + "/hits.sqlite"), "600");
  store.reset();

  ASSERT_EQ(::chmod((folder + "/hits.sqlite").c_str(), 0644), 0);
  store = ZAIHitStore::open(folder + "/hits.sqlite");
  ::umask(umask);
  ASSERT_TRUE(store);
  EXPECT_EQ(store->count(), 1u);
  EXPECT_EQ(mode(folder + "/hits.sqlite"), "600");
}

// What was planted where the hits are kept is refused, naming the path and why; what a plant
// points at is left as it was.
TEST_F(ZAITest, APlantedFolderStoreOrJournalIsRefusedAndLeftAsItWas) {
  namespace fs = std::filesystem;
  const fs::path elsewhere = dir_.path() / "elsewhere", victim = elsewhere / "file";
  const fs::path folder = dir_.path() / "analytics", store = folder / "hits.sqlite";
  fs::create_directory(elsewhere);
  std::ofstream(victim) << "kept\n";
  fs::permissions(victim, fs::perms(0644));
  enum Kind { Link, HardLink, Mode0777, Sticky, Foreign };
  const struct {
    fs::path planted;
    Kind kind;
    const char* why;
  } plants[] = {
      {folder, Link, "it is a symbolic link"},
      {store, Link, "it is a symbolic link"},
      {store.string() + "-journal", Link, "it is a symbolic link"},
      {store, HardLink, "it has other names"},
      {folder, Mode0777, "it is shared"},
      {folder, Sticky, "it is shared"},
      {store, Foreign, "it belongs to another user"},
      {folder, Foreign, "it belongs to another user"},
  };
  for (const auto& [planted, kind, why] : plants) {
    SCOPED_TRACE(planted.string() + ": " + why);
    fs::remove_all(folder);
    if (kind == Foreign && ::geteuid() != 0) GTEST_SKIP() << "giving a file to another user takes root";
    if (kind != Link || planted != folder) {
      fs::create_directory(folder);
      fs::permissions(folder, fs::perms(kind == Mode0777 ? 0777 : kind == Sticky ? 01700 : 0700));
    }
    if (kind == Link) fs::create_symlink(planted == folder ? elsewhere : victim, planted);
    if (kind == HardLink) fs::create_hard_link(victim, planted);
    if (kind == Foreign) {
      std::ofstream(store) << "";
      ASSERT_EQ(::chown(planted.c_str(), 65534, 65534), 0);
    }
    const fs::perms mode = fs::status(folder).permissions();
    std::string refused;
    EXPECT_FALSE(ZAIHitStore::open(store.string(), &refused));
    EXPECT_EQ(refused.rfind(planted.string() + ": " + why, 0), 0u) << refused;
    std::ifstream in(victim);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "kept\n");
    EXPECT_EQ(fs::status(victim).permissions(), fs::perms(0644));
    EXPECT_EQ(fs::status(folder).permissions(), mode);
  }
}

// SQLite opens the store by path: in a folder others may rename in, a checked folder could be a link
// by then, so the store is not kept there at all.
TEST_F(ZAITest, AFolderSwappedWhileTheStoreOpensLeadsNowhereElse) {
  namespace fs = std::filesystem;
  const fs::path shared = dir_.path() / "shared", elsewhere = dir_.path() / "elsewhere";
  fs::create_directories(shared / "analytics");
  fs::create_directory(elsewhere);
  ::chmod(shared.c_str(), 0777);
  const std::string before = snapshotOf(elsewhere);
  {
    DirectorySwapper swapper(shared / "analytics", elsewhere);
    for (int start = 0; start < 200; ++start) {
      std::string refused;
      EXPECT_FALSE(ZAIHitStore::open((shared / "analytics/hits.sqlite").string(), &refused));
      ASSERT_EQ(refused.rfind(shared.string() + " is not sticky and may be written by ", 0), 0u) << refused;
    }
    EXPECT_GT(swapper.swaps(), 0);
  }
  EXPECT_EQ(snapshotOf(elsewhere), before);
  // Nor is a missing folder made there first.
  EXPECT_FALSE(ZAIHitStore::open((shared / "new/analytics/hits.sqlite").string()));
  EXPECT_FALSE(fs::exists(shared / "new"));
}

}  // namespace
