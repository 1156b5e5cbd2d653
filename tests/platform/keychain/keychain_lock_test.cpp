#include "platform/keychain/keychain_lock.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/keychain/file_keychain_store.h"
#include "platform/keychain/memory_keychain_store.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> entries(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  return names;
}

}  // namespace

TEST(KeychainLockTest, OneHolderAtATimeOnAPrivateLockFileOfItsOwn) {
  TempDir dir;
  const std::string path = dir.str() + "/" + KeychainLock::kFileName;
  const mode_t umask = ::umask(0277);
  auto held = KeychainLock::acquire(dir.str());
  ::umask(umask);
  ASSERT_TRUE(held);
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);

  // A second holder, in this process or another, waits; past its time it has nothing.
  EXPECT_FALSE(KeychainLock::acquire(dir.str()));
  EXPECT_FALSE(KeychainLock::acquire(dir.str(), 0.02));
  held.reset();
  EXPECT_TRUE(KeychainLock::acquire(dir.str()));

  // Someone else's file, or no directory, gives no lock rather than a wrong one.
  fs::remove(path);
  fs::create_symlink(dir.str() + "/elsewhere", path);
  EXPECT_FALSE(KeychainLock::acquire(dir.str()));
  EXPECT_FALSE(fs::exists(dir.str() + "/elsewhere"));
  fs::remove(path);
  fs::create_directory(path);
  EXPECT_FALSE(KeychainLock::acquire(dir.str()));
  EXPECT_FALSE(KeychainLock::acquire(dir.str() + "/missing"));
}

TEST(KeychainLockTest, OnlyAKeychainInFilesHasADirectoryToLock) {
  KeychainStore::setCurrent(std::make_shared<FileKeychainStore>("/some/where/keychain"));
  EXPECT_EQ(KeychainLock::currentDirectory(), "/some/where/keychain");
  KeychainStore::setCurrent(std::make_shared<MemoryKeychainStore>());
  EXPECT_EQ(KeychainLock::currentDirectory(), std::nullopt);
  KeychainStore::setCurrent(nullptr);
}

namespace {

KeychainQuery oauthQuery() {
  KeychainQuery q;
  q.service = "signin";
  q.account = "OAuth";
  return q;
}

KeychainItem oauthItem(const std::string& data) {
  KeychainItem item;
  item.service = "signin";
  item.account = "OAuth";
  item.data = Data::fromString(data);
  return item;
}

std::optional<std::string> dataIn(KeychainStore& store) {
  KeychainItem out;
  if (store.copyMatching(oauthQuery(), &out) != errSecSuccess) return std::nullopt;
  return out.data.toString();
}

// What another program would open: the item's file, whole.
std::optional<std::string> fileText(const std::string& path) {
  std::ifstream in(path);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

TEST(KeychainLockTest, UnderTheLockADeleteThenAddIsOneReplacementForOtherPrograms) {
  TempDir dir;
  FileKeychainStore store(dir.str());
  ASSERT_EQ(store.add(oauthItem("grant-1")), errSecSuccess);
  const std::string path = store.pathForItem("signin", "OAuth");
  const auto before = fileText(path);
  {
    auto held = KeychainLock::acquire(dir.str());
    ASSERT_TRUE(held);
    // Deleted for this program, twice as a save does; others still read the old item.
    EXPECT_EQ(store.remove(oauthQuery()), errSecSuccess);
    EXPECT_EQ(store.remove(oauthQuery()), errSecItemNotFound);
    EXPECT_EQ(dataIn(store), std::nullopt);
    EXPECT_EQ(fileText(path), before);
    ASSERT_EQ(store.add(oauthItem("grant-2")), errSecSuccess);
    EXPECT_EQ(dataIn(store), "grant-2");
    EXPECT_NE(fileText(path), before);
    // A delete without an add after it (a save of what cannot authorize) still lands.
    EXPECT_EQ(store.remove(oauthQuery()), errSecSuccess);
    EXPECT_TRUE(fs::exists(path));
  }
  EXPECT_FALSE(fs::exists(path));
  EXPECT_EQ(dataIn(store), std::nullopt);
  EXPECT_EQ(entries(dir.str()), std::vector<std::string>{KeychainLock::kFileName});
}

TEST(KeychainLockTest, AnItemAnotherProgramWritesWhileTheLockIsHeldIsNotErased) {
  TempDir dir, elsewhere;
  FileKeychainStore store(dir.str() + "/"), other(elsewhere.str());
  ASSERT_EQ(store.add(oauthItem("grant-1")), errSecSuccess);
  ASSERT_EQ(other.add(oauthItem("theirs")), errSecSuccess);
  {
    // Held under another spelling of the same directory.
    auto held = KeychainLock::acquire(dir.str());
    ASSERT_TRUE(held);
    ASSERT_EQ(store.remove(oauthQuery()), errSecSuccess);
    // A program signing in without the lock renames its new item into place.
    fs::rename(other.pathForItem("signin", "OAuth"), store.pathForItem("signin", "OAuth"));
    EXPECT_EQ(dataIn(store), "theirs");
  }
  EXPECT_EQ(dataIn(store), "theirs");
  // Without the lock a delete is at once.
  EXPECT_EQ(store.remove(oauthQuery()), errSecSuccess);
  EXPECT_FALSE(fs::exists(store.pathForItem("signin", "OAuth")));
}
