#include "platform/keychain/keychain_lock.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>

#include "platform/keychain/file_keychain_store.h"
#include "platform/keychain/memory_keychain_store.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

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

KeychainItem grant(const std::string& data) {
  KeychainItem item;
  item.service = "signin";
  item.account = "OAuth";
  item.data = Data::fromString(data);
  return item;
}

const KeychainQuery kGrant{"signin", "OAuth", std::nullopt, std::nullopt};

std::optional<std::string> dataIn(KeychainStore& store) {
  KeychainItem out;
  if (store.copyMatching(kGrant, &out) != errSecSuccess) return std::nullopt;
  return out.data.toString();
}

// What another program reads: the item's file as it stands.
std::string fileText(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

TEST(KeychainLockTest, UnderTheLockADeleteThenAddIsOneReplacementForOtherPrograms) {
  TempDir dir, elsewhere;
  // The lock is taken under another spelling of the same directory.
  FileKeychainStore store(dir.str() + "/"), other(elsewhere.str());
  const std::string path = store.pathForItem("signin", "OAuth");
  ASSERT_EQ(store.add(grant("grant-1")), errSecSuccess);
  const auto before = fileText(path);
  {
    auto held = KeychainLock::acquire(dir.str());
    // Gone for this program, deleted twice as a save does; others still read the old item.
    EXPECT_EQ(store.remove(kGrant), errSecSuccess);
    EXPECT_EQ(store.remove(kGrant), errSecItemNotFound);
    EXPECT_EQ(dataIn(store), std::nullopt);
    EXPECT_EQ(fileText(path), before);
    ASSERT_EQ(store.add(grant("grant-2")), errSecSuccess);
    EXPECT_EQ(dataIn(store), "grant-2");
    // A delete no add follows (a save of what cannot authorize) lands when the lock goes.
    EXPECT_EQ(store.remove(kGrant), errSecSuccess);
    EXPECT_NE(fileText(path), before);
  }
  EXPECT_FALSE(fs::exists(path));

  ASSERT_EQ(store.add(grant("grant-3")), errSecSuccess);
  ASSERT_EQ(other.add(grant("theirs")), errSecSuccess);
  {
    auto held = KeychainLock::acquire(dir.str());
    ASSERT_EQ(store.remove(kGrant), errSecSuccess);
    // A program signing in without the lock renames its item into place: not ours to erase.
    fs::rename(other.pathForItem("signin", "OAuth"), path);
    EXPECT_EQ(dataIn(store), "theirs");
  }
  EXPECT_EQ(dataIn(store), "theirs");
}

TEST(KeychainLockTest, AnEraseUnderTheLockHoldsWhenItsProgramEndsWithoutLettingGo) {
  TempDir dir;
  FileKeychainStore store(dir.str());
  const std::string path = store.pathForItem("signin", "OAuth");
  ASSERT_EQ(store.add(grant("grant-1")), errSecSuccess);
  int erased[2], ending[2];
  ASSERT_EQ(::pipe(erased) | ::pipe(ending), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Another program: it signs out under the lock, then ends without letting the lock go.
    FileKeychainStore own(dir.str());
    auto held = KeychainLock::acquire(dir.str());
    const char said = held && own.remove(kGrant) == errSecSuccess ? 'y' : 'n';
    char end = 0;
    if (::write(erased[1], &said, 1) == 1 && ::read(ending[0], &end, 1) == 1) ::_exit(0);
    ::_exit(1);
  }
  char said = 0;
  ASSERT_EQ(::read(erased[0], &said, 1), 1);
  EXPECT_EQ(said, 'y');
  // While it runs, its erase is still to be followed by an add for all others know.
  FileKeychainStore reader(dir.str());
  EXPECT_EQ(dataIn(reader), "grant-1");
  ASSERT_EQ(::write(ending[1], "x", 1), 1);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  for (int fd : {erased[0], erased[1], ending[0], ending[1]}) ::close(fd);

  EXPECT_EQ(std::tuple(dataIn(reader), dataIn(store)), std::tuple(std::nullopt, std::nullopt));
  {
    auto held = KeychainLock::acquire(dir.str());
    ASSERT_TRUE(held);
    EXPECT_EQ(dataIn(store), std::nullopt);
  }
  // The next holder of the lock carried it out: no secret is left on disk, nor its marker.
  EXPECT_FALSE(fs::exists(path));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.str()), fs::directory_iterator()), 1) << "the lock file only";
}
