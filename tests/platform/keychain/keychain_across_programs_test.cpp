// Programs sharing one keychain directory, each a process of its own.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/keychain/file_keychain_store.h"
#include "platform/keychain/keychain_lock.h"
#include "support/temp_dir.h"

namespace {

KeychainItem grant(int n) {
  KeychainItem item;
  item.service = "signin";
  item.account = "OAuth";
  item.data = Data::fromString("grant-" + std::to_string(n));
  return item;
}

KeychainQuery grantQuery() {
  KeychainQuery q;
  q.service = "signin";
  q.account = "OAuth";
  return q;
}

// Runs `body` in a child process; its answer is the child's exit status.
pid_t spawn(const std::function<int()>& body) {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(body());
  return pid;
}

int exitStatusOf(pid_t pid) {
  int status = -1;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

TEST(KeychainAcrossProgramsTest, ProgramsReadingWhileAnotherRotatesUnderTheLockAlwaysFindAnItem) {
  TempDir dir;
  const std::string done = dir.str() + "/writer-done";
  FileKeychainStore(dir.str()).add(grant(0));

  std::vector<pid_t> readers;
  for (int i = 0; i < 3; ++i) {
    readers.push_back(spawn([&] {
      FileKeychainStore store(dir.str());
      // Reads without the lock, as the start-up check does; 1 when an item was ever missing.
      for (int read = 0; read < 200000 && ::access(done.c_str(), F_OK) != 0; ++read)
        if (store.copyMatching(grantQuery(), nullptr) != errSecSuccess) return 1;
      return 0;
    }));
  }
  const pid_t writer = spawn([&] {
    FileKeychainStore store(dir.str());
    int failures = 0;
    // Each round saves a rotated grant the way a renewal does: delete, delete again, add.
    for (int round = 1; round <= 100; ++round) {
      auto lock = KeychainLock::acquire(dir.str(), 5);
      store.remove(grantQuery());
      store.remove(grantQuery());
      failures += !lock || store.add(grant(round)) != errSecSuccess;
    }
    ::close(::open(done.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600));
    return failures == 0 ? 0 : 2;
  });
  EXPECT_EQ(exitStatusOf(writer), 0);
  for (pid_t reader : readers) EXPECT_EQ(exitStatusOf(reader), 0) << "a reader found no item";
  KeychainItem last;
  ASSERT_EQ(FileKeychainStore(dir.str()).copyMatching(grantQuery(), &last), errSecSuccess);
  EXPECT_EQ(last.data.toString(), "grant-100");
}

}  // namespace
