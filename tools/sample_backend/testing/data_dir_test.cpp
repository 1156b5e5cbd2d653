// What was planted where the backend keeps its state: it does not start, its one line names the
// path and why, and what the plant points at is left as it was.
#include <fcntl.h>
#include <fmt/format.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "platform/foundation/swap_guard.h"
#include "sample_backend_process.h"
#include "support/swapper.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

TEST(PlantedDataDirTest, LinksHardLinksAndSharedOrForeignDirectoriesAreRefusedAndLeftAsTheyWere) {
  const TempDir dir("planted");
  const fs::path elsewhere = dir.path() / "elsewhere", victim = elsewhere / "file", state = dir.path() / "state";
  fs::create_directory(elsewhere);
  std::ofstream(victim) << "kept\n";
  fs::permissions(victim, fs::perms(0644));
  enum Kind { Link, HardLink, Mode0777, Sticky, Foreign };
  const struct {
    const char* name;  // in the state directory; empty for the directory itself
    Kind kind;
    const char* why;
  } plants[] = {
      {"", Link, "it is a symbolic link"},
      {"sample_backend.lock", Link, "it is a symbolic link"},
      {"requests.log", Link, "it is a symbolic link"},
      {"sample_backend.sqlite3", Link, "it is a symbolic link"},
      {"notes.txt", Link, "it is a symbolic link"},
      {"sample_backend.lock", HardLink, "it has other names"},
      {"requests.log", HardLink, "it has other names"},
      {"sample_backend.sqlite3-wal", HardLink, "it has other names"},
      {"", Mode0777, "it is shared"},
      {"", Sticky, "it is shared"},
      {"", Foreign, "it belongs to another user"},
  };
  for (const auto& [name, kind, why] : plants) {
    SCOPED_TRACE(std::string(name) + ": " + why);
    fs::remove_all(state);
    const fs::path planted = *name ? state / name : state;
    if (kind == Foreign && ::geteuid() != 0) GTEST_SKIP() << "giving a directory to another user takes root";
    if (kind != Link || *name) {
      fs::create_directory(state);
      fs::permissions(state, fs::perms(kind == Mode0777 || kind == Foreign ? 0777 : kind == Sticky ? 01770 : 0700));
    }
    if (kind == Link) fs::create_symlink(*name ? victim : elsewhere, planted);
    if (kind == HardLink) fs::create_hard_link(victim, planted);
    if (kind == Foreign) {
      ASSERT_EQ(::chown(state.c_str(), 65534, 65534), 0);
    }
    const fs::perms mode = fs::status(state).permissions();

    const auto run = runCommand("timeout 10 '" SAMPLE_BACKEND_EXECUTABLE "' --request-log --data '" + state.string() +
                                "' 2>&1 </dev/null");
    EXPECT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == 1) << run.status;
    EXPECT_EQ(run.output.rfind("sample_backend: will not use " + planted.string() + ": " + why, 0), 0u) << run.output;
    std::ifstream in(victim);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "kept\n");
    EXPECT_EQ(fs::status(victim).permissions(), fs::perms(0644));
    EXPECT_EQ(fs::status(state).permissions(), mode);
    EXPECT_EQ(std::distance(fs::directory_iterator(elsewhere), {}), 1);
  }
}

// Others may rename what a data directory writable by everyone without the sticky bit holds: one
// who keeps exchanging the backend's directory with a link to another of the user's directories
// finds every start refused before anything is made, written or closed in there.
TEST(PlantedDataDirTest, AStartInADirectoryOthersMaySwapIsRefusedAndWritesNothingThroughASwap) {
  const TempDir dir("swapped");
  const fs::path shared = dir.path() / "shared", state = shared / "sample_backend", elsewhere = dir.path() / "elsewhere";
  fs::create_directories(state);
  fs::permissions(shared, fs::perms(0777));
  fs::create_directory(elsewhere);
  for (const char* name : {"sample_backend.lock", "requests.log", "sample_backend.sqlite3"}) {
    std::ofstream(elsewhere / name) << "kept\n";
    fs::permissions(elsewhere / name, fs::perms(0644));
  }
  const auto before = snapshotOf(elsewhere);
  // A port held here: a start that got past its checks stops once it has opened all it keeps.
  const int held = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  ASSERT_EQ(::bind(held, reinterpret_cast<sockaddr*>(&address), size), 0);
  ASSERT_EQ(::listen(held, 1), 0);
  ASSERT_EQ(::getsockname(held, reinterpret_cast<sockaddr*>(&address), &size), 0);

  std::optional<DirectorySwapper> swapper(std::in_place, state, elsewhere);
  const auto why = whyOthersMaySwapIn(shared.string());
  ASSERT_TRUE(why);
  ASSERT_EQ(why->rfind(shared.string() + " is not sticky and may be written by ", 0), 0u) << *why;
  const std::string line = "sample_backend: will not use " + state.string() + ": " + *why + "\n";
  for (int start = 0; start < 40; ++start) {
    const auto run = runCommand(fmt::format("timeout 10 '" SAMPLE_BACKEND_EXECUTABLE
                                            "' --request-log --port {} --data '{}' 2>&1 </dev/null",
                                            ntohs(address.sin_port), state.string()));
    EXPECT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == 1) << run.status;
    EXPECT_EQ(run.output, line);
  }
  EXPECT_GT(swapper->swaps(), 0);
  swapper.reset();
  ::close(held);
  EXPECT_EQ(snapshotOf(elsewhere), before);
}

// Every directory on the way is named at once, with the group that could write.
TEST(PlantedDataDirTest, ARefusalNamesEveryDirectoryOthersMaySwapIn) {
  if (::geteuid() != 0) GTEST_SKIP() << "giving a directory to another group takes root";
  const TempDir dir("team");
  const fs::path shared = dir.path() / "shared", team = shared / "team", state = team / "state";
  fs::create_directories(team);
  fs::permissions(shared, fs::perms(0777));
  ASSERT_EQ(::chown(team.c_str(), 0, 4000) | ::chmod(team.c_str(), 02775), 0);
  const auto why = whyOthersMaySwapIn(team.string());
  ASSERT_TRUE(why);
  EXPECT_NE(why->find(team.string() + " is not sticky and may be written by group "), std::string::npos) << *why;
  EXPECT_NE(why->find(shared.string() + " is not sticky and may be written by everyone"), std::string::npos) << *why;
  const auto run =
      runCommand("timeout 10 '" SAMPLE_BACKEND_EXECUTABLE "' --data '" + state.string() + "' 2>&1 </dev/null");
  EXPECT_EQ(run.output, "sample_backend: will not use " + state.string() + ": " + *why + "\n");
  EXPECT_FALSE(fs::exists(state));
}

}  // namespace
