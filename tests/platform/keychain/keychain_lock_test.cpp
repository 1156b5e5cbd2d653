#include "platform/keychain/keychain_lock.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

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

namespace {

// Another program saving the grant (under the lock as a renewal does: delete, then add; else as an
// update), stopped at
// `step` ("erased" or a save step) until the caller writes to `go` or kills it.
struct StoppedSave {
  pid_t pid = -1;
  int go = -1;
};

StoppedSave saveStoppedAt(const std::string& dir, const std::string& step, bool underTheLock) {
  int stopped[2], go[2];
  if (::pipe(stopped) != 0 || ::pipe(go) != 0) return {};
  const pid_t child = ::fork();
  if (child == 0) {
    // Only the parent writes to `go`: its end is what tells this save it is gone.
    ::close(stopped[0]);
    ::close(go[1]);
    const auto stop = [&](std::string_view at) {
      char byte = 0;
      if (at == step && (::write(stopped[1], "x", 1) != 1 || ::read(go[0], &byte, 1) != 1)) ::_exit(1);
    };
    FileKeychainStore::setSaveStepHook(stop);
    FileKeychainStore own(dir);
    auto held = underTheLock ? KeychainLock::acquire(dir) : nullptr;
    if (underTheLock && (!held || own.remove(kGrant) != errSecSuccess)) ::_exit(1);
    stop("erased");
    KeychainAttributes update;
    update.data = Data::fromString("grant-2");
    ::_exit((underTheLock ? own.add(grant("grant-2")) : own.update(kGrant, update)) == errSecSuccess ? 0 : 1);
  }
  ::close(stopped[1]);
  ::close(go[0]);
  char byte = 0;
  const bool reached = ::read(stopped[0], &byte, 1) == 1;
  ::close(stopped[0]);
  if (!reached) ::close(go[1]);
  return reached ? StoppedSave{child, go[1]} : StoppedSave{};
}

int endOf(pid_t child, bool kill) {
  if (kill) ::kill(child, SIGKILL);
  int status = 0;
  ::waitpid(child, &status, 0);
  return status;
}

// What a program that is not this one reads, its standard error going to `said`.
std::optional<std::string> readInAnotherProcess(const std::string& dir, const std::string& said = "/dev/null") {
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return "<no pipe>";
  const pid_t reader = ::fork();
  if (reader == 0) {
    ::close(pipeFds[0]);
    const int err = ::open(said.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (err < 0 || ::dup2(err, STDERR_FILENO) < 0) ::_exit(1);
    FileKeychainStore theirs(dir);
    const std::string data = dataIn(theirs).value_or("<none>");
    ::_exit(::write(pipeFds[1], data.data(), data.size()) == static_cast<ssize_t>(data.size()) ? 0 : 1);
  }
  ::close(pipeFds[1]);
  char buffer[64];
  const ssize_t got = ::read(pipeFds[0], buffer, sizeof buffer);
  ::close(pipeFds[0]);
  endOf(reader, false);
  if (got <= 0) return "<no answer>";
  const std::string data(buffer, static_cast<std::size_t>(got));
  return data == "<none>" ? std::nullopt : std::optional(data);
}

std::vector<std::string> namesIn(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

TEST(KeychainLockTest, ASaveUnderTheLockEndedAtAnyStepLeavesTheOldItemErasedAndNamedOrTheWholeNewOne) {
  KeychainStore::noteHoldsSignIn("signin", "OAuth");
  struct Case {
    std::string step;
    std::optional<std::string> after;
    bool lockFirst;
  };
  for (const auto& [step, after, lockFirst] : {Case{"erased", std::nullopt, false}, Case{"erased", std::nullopt, true},
                                               Case{"whole", "grant-2", false}, Case{"renaming", "grant-2", true}}) {
    SCOPED_TRACE(step + (lockFirst ? ", the lock taken first" : ""));
    TempDir dir;
    FileKeychainStore store(dir.str());
    const std::string path = store.pathForItem("signin", "OAuth");
    ASSERT_EQ(store.add(grant("grant-1")), errSecSuccess);
    const StoppedSave save = saveStoppedAt(dir.str(), step, true);
    ASSERT_GT(save.pid, 0);
    EXPECT_TRUE(WIFSIGNALED(endOf(save.pid, true)));
    ::close(save.go);

    // The next start reads the grant before or after it takes the lock: one line either way.
    FileKeychainStore next(dir.str());
    testing::internal::CaptureStderr();
    const auto before = lockFirst ? after : dataIn(next);
    KeychainLock::acquire(dir.str()).reset();
    const auto said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::pair(before, dataIn(next)), std::pair(after, after));
    EXPECT_EQ(said, after ? "" : "dorvale: keychain item not used: " + path +
                                     " (signin, OAuth) was erased by a program that ended while saving it, signed out\n");
    EXPECT_EQ(readInAnotherProcess(dir.str()), after);
    std::vector<std::string> left{KeychainLock::kFileName};
    if (after) left.insert(left.begin(), fs::path(path).filename().string());
    EXPECT_EQ(namesIn(dir.str()), left);
  }
}

TEST(KeychainLockTest, TheNextHolderOfTheLockRemovesOnlyTheFilesOfWritesWhoseProgramEnded) {
  TempDir dir;
  FileKeychainStore store(dir.str());
  ASSERT_EQ(store.add(grant("grant-1")), errSecSuccess);
  const std::string item = fs::path(store.pathForItem("signin", "OAuth")).filename();
  // Saves without the lock, as a sign-in makes them: one ended whole before its rename, one still writing.
  const StoppedSave ended = saveStoppedAt(dir.str(), "renaming", false);
  ASSERT_GT(ended.pid, 0);
  endOf(ended.pid, true);
  ::close(ended.go);
  const StoppedSave running = saveStoppedAt(dir.str(), "whole", false);
  ASSERT_GT(running.pid, 0);
  ASSERT_EQ(namesIn(dir.str()).size(), 3u) << "the item and two unfinished writes";

  KeychainLock::acquire(dir.str()).reset();
  const auto names = namesIn(dir.str());
  ASSERT_EQ(names.size(), 3u);
  EXPECT_EQ(names[1].rfind(item + ".tmp-", 0), 0u) << "the running save's file stays";
  EXPECT_EQ(dataIn(store), "grant-1") << "an ended save without the lock is lost, the item kept";

  ASSERT_EQ(::write(running.go, "x", 1), 1);
  const int status = endOf(running.pid, false);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  ::close(running.go);
  EXPECT_EQ(dataIn(store), "grant-2");
  EXPECT_EQ(namesIn(dir.str()), (std::vector<std::string>{item, KeychainLock::kFileName}));
}

TEST(KeychainLockTest, AnItemErasedByAKilledSaveIsNamedByTheFirstStartOnlyAndLeavesNoFile) {
  KeychainStore::noteHoldsSignIn("signin", "OAuth");
  TempDir dir, out;
  FileKeychainStore store(dir.str());
  const std::string path = store.pathForItem("signin", "OAuth");
  ASSERT_EQ(store.add(grant("grant-1")), errSecSuccess);
  const StoppedSave save = saveStoppedAt(dir.str(), "erased", true);
  ASSERT_GT(save.pid, 0);
  EXPECT_TRUE(WIFSIGNALED(endOf(save.pid, true)));
  ::close(save.go);
  // Its add, begun but cut short.
  std::ofstream(path + ".add-Ab12Cd") << "{\"service\":";

  const std::string first = out.str() + "/first", second = out.str() + "/second";
  EXPECT_EQ(readInAnotherProcess(dir.str(), first), std::nullopt);
  EXPECT_EQ(readInAnotherProcess(dir.str(), second), std::nullopt);
  EXPECT_EQ(fileText(first), "dorvale: keychain item not used: " + path +
                                 " (signin, OAuth) was erased by a program that ended while saving it, signed out\n");
  EXPECT_EQ(fileText(second), "");
  EXPECT_EQ(namesIn(dir.str()), std::vector<std::string>{KeychainLock::kFileName});
}
