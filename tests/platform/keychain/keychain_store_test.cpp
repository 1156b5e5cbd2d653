#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/foundation/swap_guard.h"
#include "platform/foundation/user_defaults.h"
#include "platform/keychain/file_keychain_store.h"
#include "platform/keychain/keychain_wrapper.h"
#include "platform/keychain/memory_keychain_store.h"
#include "platform/keychain/unsaved_sign_in.h"
#include "support/swapper.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

mode_t modeOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}

// Files and directories are made with the modes asked for, no bits taken away.
struct OpenUmask {
  mode_t old = ::umask(0);
  ~OpenUmask() { ::umask(old); }
};

std::vector<std::string> entries(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  return names;
}

KeychainItem item(std::string service, std::string account, const std::string& data) {
  KeychainItem i;
  std::tie(i.service, i.account, i.data) = std::tuple(std::move(service), std::move(account), Data::fromString(data));
  return i;
}

KeychainQuery query(std::string service, std::string account) {
  KeychainQuery q;
  std::tie(q.service, q.account) = std::tuple(std::move(service), std::move(account));
  return q;
}

KeychainAttributes newData(const std::string& data) {
  KeychainAttributes a;
  a.data = Data::fromString(data);
  return a;
}

std::string dataOf(KeychainStore& store, const KeychainQuery& q) {
  KeychainItem out;
  return store.copyMatching(q, &out) == errSecSuccess ? out.data.toString() : "<not found>";
}

// The item rules hold for every store.
class KeychainStoreRules : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    if (GetParam() == "file") store_ = std::make_shared<FileKeychainStore>(dir_.str() + "/keychain");
    else store_ = std::make_shared<MemoryKeychainStore>();
  }
  TempDir dir_;
  std::shared_ptr<KeychainStore> store_;
};

TEST_P(KeychainStoreRules, StatusCodesMatchingAndOddBytes) {
  const KeychainQuery q = query("svc", "acct");
  EXPECT_EQ(std::tuple(store_->copyMatching(q, nullptr), store_->update(q, newData("x")), store_->remove(q)),
            std::tuple(errSecItemNotFound, errSecItemNotFound, errSecItemNotFound));

  KeychainItem first = item("svc", "acct", "secret");
  std::tie(first.generic, first.label, first.accessibility) =
      std::tuple("OAuth", "Label", kSecAttrAccessibleAfterFirstUnlockThisDeviceOnly);
  ASSERT_EQ(store_->add(first), errSecSuccess);
  // Differing only in other attributes still collides, and the first item is kept.
  EXPECT_EQ(store_->add(item("svc", "acct", "other")), errSecDuplicateItem);
  KeychainItem out;
  ASSERT_EQ(store_->copyMatching(q, &out), errSecSuccess);
  EXPECT_EQ(std::tuple(out.data.toString(), out.generic, out.accessibility),
            std::tuple("secret", "OAuth", kSecAttrAccessibleAfterFirstUnlockThisDeviceOnly));

  // Keys that would run together when concatenated stay apart.
  // Braces: the lookup must run before the add.
  EXPECT_EQ(
      (std::pair{store_->copyMatching(query("svca", "cct"), nullptr), store_->add(item("svca", "cct", "neighbour"))}),
      std::pair(errSecItemNotFound, errSecSuccess));

  // An optional attribute in the query must match.
  auto withGeneric = q;
  withGeneric.generic = "Other";
  EXPECT_EQ(std::pair(store_->copyMatching(withGeneric, nullptr), store_->remove(withGeneric)),
            std::pair(errSecItemNotFound, errSecItemNotFound));
  withGeneric.generic = "OAuth";
  EXPECT_EQ(store_->copyMatching(withGeneric, nullptr), errSecSuccess);

  EXPECT_EQ(store_->update(q, KeychainAttributes{}), errSecParam);
  ASSERT_EQ(store_->update(q, newData("changed")), errSecSuccess);
  ASSERT_EQ(store_->copyMatching(q, &out), errSecSuccess);
  EXPECT_EQ(std::tuple(out.data.toString(), out.label), std::tuple("changed", "Label"))
      << "the label is untouched by the update";

  EXPECT_EQ(store_->remove(q), errSecSuccess);
  EXPECT_EQ(std::tuple(dataOf(*store_, q), dataOf(*store_, query("svca", "cct"))),
            std::tuple("<not found>", "neighbour"));

  // Arbitrary bytes in every field.
  std::string bytes("\0\xff\x80 \"\\\n", 7);
  KeychainItem odd = item(std::string("s\xc3\x28/..", 6), std::string("a\0b", 3), bytes);
  ASSERT_EQ(store_->add(odd), errSecSuccess);
  EXPECT_EQ(dataOf(*store_, query(odd.service, odd.account)), bytes);
}

// A read tells when the item was written last, so that of two items the newer one is known.
TEST_P(KeychainStoreRules, AReadTellsWhenTheItemWasWrittenLast) {
  const auto stamp = [&](const char* account) {
    KeychainItem out;
    EXPECT_EQ(store_->copyMatching(query("svc", account), &out), errSecSuccess);
    return out.modified.value_or(KeychainStamp{-1, -1});
  };
  // Writes this close may share a file time: the file store's times are set.
  auto* files = dynamic_cast<FileKeychainStore*>(store_.get());
  const auto written = [&](const char* account, KeychainStamp when) {
    if (!files) return;
    const timespec times[2] = {{0, UTIME_OMIT}, {when.seconds, when.nanoseconds}};
    ASSERT_EQ(::utimensat(AT_FDCWD, files->pathForItem("svc", account).c_str(), times, 0), 0);
  };
  ASSERT_EQ(store_->add(item("svc", "a", "1")), errSecSuccess);
  written("a", {1700000000, 5});
  ASSERT_EQ(store_->add(item("svc", "b", "2")), errSecSuccess);
  written("b", {1700000000, 7});
  EXPECT_LT(stamp("a"), stamp("b"));
  if (files) {
    EXPECT_EQ(stamp("b"), (KeychainStamp{1700000000, 7}));
  }

  ASSERT_EQ(store_->update(query("svc", "a"), newData("3")), errSecSuccess);
  written("a", {1700000001, 0});
  EXPECT_GT(stamp("a"), stamp("b"));
}

INSTANTIATE_TEST_SUITE_P(Stores, KeychainStoreRules, ::testing::Values("file", "memory"),
                         [](const auto& param) { return param.param; });

TEST(FileKeychainStore, PrivateModesAtomicReplaceAndPersistence) {
  const OpenUmask openUmask;
  TempDir tmp;
  // A pre-existing directory that everyone may write is not taken over: others could swap it.
  std::string loose = tmp.str() + "/loose";
  ASSERT_EQ(::mkdir(loose.c_str(), 0777), 0);
  EXPECT_EQ(FileKeychainStore(loose).add(item("svc", "acct", "one")), errSecIO);
  EXPECT_EQ(std::pair(modeOf(loose), entries(loose).size()), std::pair(0777u, std::size_t{0}));

  const std::string dir = tmp.str() + "/data/keychain";
  FileKeychainStore store(dir);
  ASSERT_EQ(store.add(item("svc", "acct", "one")), errSecSuccess);
  EXPECT_EQ(std::pair(modeOf(dir), modeOf(store.pathForItem("svc", "acct"))), std::pair(0700u, 0600u));
  ASSERT_EQ(store.update(query("svc", "acct"), newData("two")), errSecSuccess);
  EXPECT_EQ(modeOf(store.pathForItem("svc", "acct")), 0600u);
  // Only the item file: no temporary left behind, and no secret in the file name.
  EXPECT_EQ(entries(dir), std::vector<std::string>{fs::path(store.pathForItem("svc", "acct")).filename()});
  EXPECT_EQ(entries(dir)[0].find("acct"), std::string::npos);
  EXPECT_EQ(dataOf(*std::make_shared<FileKeychainStore>(dir), query("svc", "acct")), "two");
  ASSERT_EQ(store.remove(query("svc", "acct")), errSecSuccess);
  EXPECT_TRUE(entries(dir).empty());
  EXPECT_EQ(modeOf(tmp.str() + "/data"), 0700u);

  // The default directory sits in the application data directory, override included.
  UserDefaults::setApplicationDataDirectory(tmp.str() + "/app");
  EXPECT_EQ(FileKeychainStore::defaultDirectory(), tmp.str() + "/app/keychain");
  UserDefaults::setApplicationDataDirectory(std::nullopt);
}

TEST(FileKeychainStore, CorruptFilesReadAsNotFoundAndFailedWritesReport) {
  TempDir tmp;
  FileKeychainStore store(tmp.str() + "/keychain");
  ASSERT_EQ(store.add(item("svc", "acct", "secret")), errSecSuccess);
  ASSERT_EQ(store.add(item("svc", "other", "secret")), errSecSuccess);
  const std::string path = store.pathForItem("svc", "acct");
  std::ifstream in(store.pathForItem("svc", "other"));
  const std::string otherItemText((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::string fields = R"(,"account":"61636374","data":"00","accessibility":""})";

  for (const std::string& garbage : {std::string(), std::string("{\"version\":1,\"service\":"), std::string("[1,2]"),
                                     R"({"version":1,"service":"zz")" + fields, R"({"version":1,"service":7)" + fields,
                                     R"({"version":4294967297,"service":"737663")" + fields, std::string(2 << 20, ' '),
                                     otherItemText /* a valid item, but not the one this name belongs to */}) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << garbage;
    EXPECT_EQ(store.copyMatching(query("svc", "acct"), nullptr), errSecItemNotFound) << garbage.substr(0, 60);
    EXPECT_EQ(store.update(query("svc", "acct"), newData("x")), errSecItemNotFound);
  }
  // The same text with the right version is an item: the cases above fail for their fault alone.
  std::ofstream(path, std::ios::binary | std::ios::trunc) << R"({"version":1,"service":"737663")" + fields;
  EXPECT_EQ(dataOf(store, query("svc", "acct")), std::string(1, '\0'));
  // Adding over a wreck replaces it.
  std::ofstream(path, std::ios::binary | std::ios::trunc) << "[1,2]";
  ASSERT_EQ(store.add(item("svc", "acct", "fresh")), errSecSuccess);
  EXPECT_EQ(dataOf(store, query("svc", "acct")), "fresh");

  std::ofstream(tmp.str() + "/file") << "not a directory";
  FileKeychainStore blocked(tmp.str() + "/file/keychain");
  EXPECT_EQ(blocked.add(item("svc", "acct", "secret")), errSecIO);
  EXPECT_EQ(blocked.copyMatching(query("svc", "acct"), nullptr), errSecItemNotFound);

  // A failed write says where and why.
  const std::string name = fs::path(store.pathForItem("svc", "gone")).filename();
  fs::create_directory(store.pathForItem("svc", "gone"));
  EXPECT_EQ(store.add(item("svc", "gone", "secret")), errSecIO);
  const auto failure = KeychainStore::lastFailure().value_or(KeychainFailure{});
  EXPECT_EQ(std::pair(failure.place, failure.reason), std::pair(tmp.str() + "/keychain", name + " is a directory"));
}

TEST(FileKeychainStore, AnItemThatCannotBeUsedIsNamedOnceWithWhy) {
  TempDir tmp;
  const std::string dir = tmp.str() + "/keychain";
  FileKeychainStore writer(dir);
  ASSERT_EQ(writer.add(item("svc", "kept", "one")), errSecSuccess);
  ASSERT_EQ(writer.add(item("svc", "other", "two")), errSecSuccess);
  const std::string path = writer.pathForItem("svc", "acct");
  std::ifstream in(writer.pathForItem("svc", "other"));
  const std::string otherItemText((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const auto holding = [&](std::string text) { return [&path, text] { std::ofstream(path) << text; }; };
  const std::pair<std::function<void()>, std::string> cases[] = {
      {holding(""), "is empty"},
      {holding(R"({"version":1,"service":"7376)"), "is cut short"},
      {holding("[1,2]"), "is not a keychain item"},
      // Numbers past a double's range make the JSON library throw, cut short or not.
      {holding(R"({"version":1e400})"), "is not a keychain item"},
      {holding(R"({"version":1,"data":-1e999)"), "is not a keychain item"},
      {holding(R"({"version":2})"), "is of another format version"},
      {holding(std::string(2 << 20, ' ')), "is larger than an item can be"},
      {holding(otherItemText), "holds another item"},
      {[&] { fs::create_directory(path); }, "is a directory"},
      {[&] { fs::create_symlink(writer.pathForItem("svc", "other"), path); }, "is a symbolic link"},
  };
  for (const auto& [make, why] : cases) {
    fs::remove_all(path);
    make();
    FileKeychainStore store(dir);
    testing::internal::CaptureStderr();
    const auto data = std::tuple(dataOf(store, query("svc", "acct")), dataOf(store, query("svc", "acct")),
                                 dataOf(store, query("svc", "kept")));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "dorvale: keychain item not used: " + path + " (svc, acct) " + why + "\n");
    EXPECT_EQ(data, std::tuple("<not found>", "<not found>", "one"));
  }

  fs::remove_all(dir);
  std::ofstream(dir) << "not a directory";
  FileKeychainStore store(dir);
  testing::internal::CaptureStderr();
  EXPECT_EQ(std::pair(dataOf(store, query("svc", "kept")), dataOf(store, query("svc", "kept"))),
            std::pair(std::string("<not found>"), std::string("<not found>")));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "dorvale: keychain not usable, signed out: " + dir + " is a regular file\n");
}

TEST(FileKeychainStore, WhatOthersCouldSwapIsNotTrustedAndWhatTheyCouldReadIsMadePrivate) {
  const OpenUmask openUmask;
  TempDir tmp;
  ASSERT_EQ(::chmod(tmp.str().c_str(), 0755), 0);  // the data directory may stay open
  const std::string dir = tmp.str() + "/keychain";
  FileKeychainStore writer(dir);
  ASSERT_EQ(writer.add(item("svc", "kept", "one")), errSecSuccess);
  ASSERT_EQ(writer.add(item("svc", "open", "two")), errSecSuccess);
  const std::string kept = writer.pathForItem("svc", "kept"), open = writer.pathForItem("svc", "open");
  // Not items, so never judged: the lock file and an unfinished write.
  std::ofstream(dir + "/keychain.lock");
  ASSERT_EQ(::chmod((dir + "/keychain.lock").c_str(), 0600), 0);
  std::ofstream(kept + ".tmp-abcdef") << "partial";
  ASSERT_EQ(::chmod((kept + ".tmp-abcdef").c_str(), 0666), 0);

  struct Case {
    mode_t dirMode, openMode;
    std::optional<std::string> why;
    std::string keptData, openData;
  };
  const Case cases[] = {
      {0700, 0600, std::nullopt, "one", "two"},
      {0755, 0644, std::nullopt, "one", "two"},
      {0700, 0666, open + " is writable by others", "one", "<not found>"},
      {0700, 0620, open + " is writable by others", "one", "<not found>"},
      {0777, 0600, dir + " is writable by others", "<not found>", "<not found>"},
      {0770, 0600, dir + " is writable by others", "<not found>", "<not found>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << std::oct << c.dirMode << " " << c.openMode);
    ASSERT_EQ(::chmod(open.c_str(), c.openMode) | ::chmod(dir.c_str(), c.dirMode), 0);
    FileKeychainStore store(dir);
    testing::internal::CaptureStderr();
    const auto data = std::pair(dataOf(store, query("svc", "kept")), dataOf(store, query("svc", "open")));
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(data, std::pair(c.keptData, c.openData));
    // Said once, on the first read; what others could only read is private now.
    EXPECT_EQ(said, c.why ? "dorvale: keychain not trusted, signed out: " + *c.why + "\n" : "");
    EXPECT_EQ(store.checkModes(), c.why);
    EXPECT_EQ(std::pair(modeOf(dir), modeOf(open)),
              std::pair(c.dirMode == 0755 ? 0700u : c.dirMode, c.openMode == 0644 ? 0600u : c.openMode));
  }
  EXPECT_EQ(std::tuple(modeOf(tmp.str()), modeOf(dir + "/keychain.lock"), modeOf(kept + ".tmp-abcdef")),
            std::tuple(0755u, 0600u, 0666u));

  // Another user's keychain: a fresh directory handed to nobody, or (not being root) the root directory.
  std::string foreign = "/";
  if (::geteuid() == 0) {
    foreign = tmp.str() + "/foreign";
    ASSERT_EQ(::mkdir(foreign.c_str(), 0700) | ::chown(foreign.c_str(), 65534, 65534), 0);
  }
  FileKeychainStore foreignStore(foreign);
  EXPECT_EQ(foreignStore.checkModes(), foreign + " belongs to another user");
  EXPECT_EQ(foreignStore.add(item("svc", "acct", "secret")), errSecIO);
}

TEST(FileKeychainStore, ALinkOrASharedFolderInTheKeychainsPlaceIsRefusedAndLeftAsItWas) {
  const OpenUmask openUmask;
  struct Case {
    bool link;
    mode_t mode;
    std::string line, reason;
  };
  const Case cases[] = {
      {true, 0755, "not usable, signed out: DIR is a symbolic link", "it is a symbolic link"},
      {false, 0777, "not trusted, signed out: DIR is writable by others", "it is writable by others"},
      {false, 01700, "not trusted, signed out: DIR is sticky", "it is sticky"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << std::oct << c.mode << (c.link ? " through a link" : ""));
    TempDir tmp;
    const std::string dir = tmp.str() + "/keychain", held = c.link ? tmp.str() + "/elsewhere" : dir;
    ASSERT_EQ(FileKeychainStore(held).add(item("svc", "acct", "theirs")), errSecSuccess);
    ASSERT_EQ(::chmod(held.c_str(), c.mode) | ::chmod(FileKeychainStore(held).pathForItem("svc", "acct").c_str(), 0644),
              0);
    if (c.link) fs::create_directory_symlink(held, dir);
    const std::string before = snapshotOf(held);

    FileKeychainStore store(dir);
    testing::internal::CaptureStderr();
    const auto read = dataOf(store, query("svc", "acct"));
    const auto added = store.add(item("svc", "other", "mine"));
    reportUnsavedSignIn(UnsavedSignIn::NotKept);
    std::string line = "dorvale: keychain " + c.line + "\n";
    line.replace(line.find("DIR"), 3, dir);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              line + "dorvale: cannot save the sign-in in " + dir + " (" + c.reason + "): it was not kept\n");
    EXPECT_EQ(std::pair(read, added), std::pair(std::string("<not found>"), errSecIO));
    EXPECT_EQ(snapshotOf(held), before);
  }
}

TEST(FileKeychainStore, AKeychainSwappedForALinkInADirectoryOthersMayWriteIsNeverFollowed) {
  const OpenUmask openUmask;
  TempDir tmp;
  // The data directory above the keychain sits in a directory others may write.
  const std::string shared = tmp.str() + "/shared", data = shared + "/data", dir = data + "/keychain";
  const std::string second = tmp.str() + "/second";
  ASSERT_EQ(FileKeychainStore(dir).add(item("svc", "acct", "mine")), errSecSuccess);
  ASSERT_EQ(FileKeychainStore(second + "/keychain").add(item("svc", "acct", "theirs")), errSecSuccess);
  ASSERT_EQ(::chmod(shared.c_str(), 0777), 0);
  const auto why = whyOthersMaySwapIn(data);
  ASSERT_TRUE(why);
  const std::string before = snapshotOf(second);
  // Nor is a missing parent made there first, where it could be swapped before the keychain is.
  EXPECT_EQ(FileKeychainStore(shared + "/missing/keychain").add(item("svc", "acct", "x")), errSecIO);
  EXPECT_FALSE(fs::exists(shared + "/missing"));

  {
    // Another user, who may rename what is in the shared directory, swaps the data directory.
    DirectorySwapper swapper(data, second);
    for (int start = 0; start < 50; ++start) {
      FileKeychainStore store(dir);
      testing::internal::CaptureStderr();
      EXPECT_EQ(dataOf(store, query("svc", "acct")), "<not found>");
      EXPECT_EQ(testing::internal::GetCapturedStderr(), "dorvale: keychain not usable, signed out: " + *why + "\n");
      for (int save = 0; save < 4; ++save) {
        EXPECT_EQ(store.add(item("svc", "new" + std::to_string(save), "x")), errSecIO);
        EXPECT_EQ(KeychainStore::lastFailure().value_or(KeychainFailure{}).reason, *why);
      }
    }
    EXPECT_GT(swapper.swaps(), 0);
  }
  EXPECT_EQ(snapshotOf(second), before);
}

// The sign-in's alert says what to change on the whole way, not one directory a run.
TEST(FileKeychainStore, ARefusedSaveNamesEveryDirectoryOthersMaySwapIn) {
  TempDir tmp;
  const std::string shared = tmp.str() + "/shared", team = shared + "/team", dir = team + "/data/keychain";
  fs::create_directories(team);
  ASSERT_EQ(::chmod(shared.c_str(), 0777) | ::chmod(team.c_str(), 02775), 0);
  struct stat st {};
  ASSERT_EQ(::stat(team.c_str(), &st), 0);
  // The team directory's group has another member.
  SwapGuardFacts facts = systemSwapGuardFacts();
  facts.user = [gid = st.st_gid] { return SwapGuardFacts::Account{"me", gid}; };
  facts.group = [](gid_t) { return SwapGuardFacts::Group{"crew", {"me", "ada"}}; };
  setSwapGuardFacts(facts);
  FileKeychainStore store(dir);
  testing::internal::CaptureStderr();
  EXPECT_EQ(store.add(item("svc", "acct", "x")), errSecIO);
  const KeychainFailure failure = reportUnsavedSignIn(UnsavedSignIn::NotKept);
  testing::internal::GetCapturedStderr();
  setSwapGuardFacts(std::nullopt);
  EXPECT_EQ(failure.place, dir);
  EXPECT_NE(failure.reason.find(team + " is not sticky and may be written by group crew,"), std::string::npos);
  EXPECT_NE(failure.reason.find(shared + " is not sticky and may be written by group crew and everyone,"),
            std::string::npos);
}

TEST(FileKeychainStore, ANamedPipeInPlaceOfAnItemReadsAsAbsentWithoutWaiting) {
  TempDir tmp;
  FileKeychainStore store(tmp.str() + "/keychain");
  ASSERT_EQ(store.add(item("svc", "other", "kept")), errSecSuccess);
  ASSERT_EQ(::mkfifo(store.pathForItem("svc", "acct").c_str(), 0600), 0);
  EXPECT_EQ(std::pair(dataOf(store, query("svc", "acct")), dataOf(store, query("svc", "other"))),
            std::pair(std::string("<not found>"), std::string("kept")));
  EXPECT_EQ(store.checkModes(), std::nullopt);
  // Adding replaces the pipe with an item.
  ASSERT_EQ(store.add(item("svc", "acct", "fresh")), errSecSuccess);
  EXPECT_EQ(dataOf(store, query("svc", "acct")), "fresh");
}

class KeychainWrapperTest : public ::testing::Test {
 protected:
  void SetUp() override { KeychainStore::setCurrent(store_); }
  void TearDown() override { KeychainStore::setCurrent(nullptr); }
  std::shared_ptr<MemoryKeychainStore> store_ = std::make_shared<MemoryKeychainStore>();
};

TEST_F(KeychainWrapperTest, RoundTripAndRemoval) {
  auto& wrapper = KeychainWrapper::standard();
  EXPECT_EQ(wrapper.stringForKey("accessToken"), std::nullopt);
  EXPECT_FALSE(wrapper.removeObjectForKey("accessToken"));

  EXPECT_TRUE(wrapper.setString("t1", "accessToken") && wrapper.setString("t2", "accessToken") &&
              wrapper.setString("", "fbToken"));
  EXPECT_EQ(std::tuple(wrapper.stringForKey("accessToken"), wrapper.stringForKey("fbToken")), std::tuple("t2", ""));
  EXPECT_EQ(store_->count(), 2u);
  // Another service under the same key is another entry.
  EXPECT_EQ(KeychainWrapper("com.example.other").stringForKey("accessToken"), std::nullopt);

  EXPECT_TRUE(wrapper.removeObjectForKey("accessToken"));
  EXPECT_FALSE(wrapper.removeObjectForKey("accessToken"));
  EXPECT_EQ(wrapper.stringForKey("fbToken"), "");

  // Bytes that are not UTF-8 text are not a string.
  ASSERT_EQ(SecItemAdd(item(KeychainWrapper::kStandardServiceName, "raw", "abc\xe2\x82")), errSecSuccess);
  EXPECT_EQ(wrapper.stringForKey("raw"), std::nullopt);
  EXPECT_TRUE(wrapper.setString("gr\xc3\xbc\xc3\x9f \xf0\x9f\x94\x91", "zedodoToken"));
  EXPECT_EQ(wrapper.stringForKey("zedodoToken"), "gr\xc3\xbc\xc3\x9f \xf0\x9f\x94\x91");
}

TEST_F(KeychainWrapperTest, ConcurrentWritersOnTheFileStore) {
  TempDir tmp;
  KeychainStore::setCurrent(std::make_shared<FileKeychainStore>(tmp.str() + "/keychain"));
  KeychainWrapper wrapper("svc");
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&wrapper, t] {
      for (int i = 0; i < 25; ++i) {
        EXPECT_TRUE(wrapper.setString("value-" + std::to_string(t), "key"));
        wrapper.removeObjectForKey("key");
      }
      EXPECT_TRUE(wrapper.setString("value-" + std::to_string(t), "key"));
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(wrapper.stringForKey("key").value_or("").rfind("value-", 0), 0u);
  EXPECT_EQ(entries(tmp.str() + "/keychain").size(), 1u);
}

}  // namespace
