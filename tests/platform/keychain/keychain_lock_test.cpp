#include "platform/keychain/keychain_lock.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <memory>

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
