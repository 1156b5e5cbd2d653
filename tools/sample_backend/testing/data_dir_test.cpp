// What was planted where the backend keeps its state: it does not start, its one line names the
// path and why, and what the plant points at is left as it was.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "sample_backend_process.h"
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

}  // namespace
