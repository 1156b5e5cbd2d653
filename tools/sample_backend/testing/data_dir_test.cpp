// What was planted in the backend's directory of a shared data directory: the backend does not
// start, its one line names the path and why, and what the plant points at is left as it was.
#include <gtest/gtest.h>
#include <sys/stat.h>
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

class PlantedDataDirTest : public testing::Test {
 protected:
  void SetUp() override {
    fs::create_directory(elsewhere_);
    std::ofstream(victim_) << "kept\n";
    fs::permissions(victim_, fs::perms(0644));
    fs::permissions(elsewhere_, fs::perms(0755));
  }

  // The backend's terminal output when it refuses to start on `state_`.
  std::string refusedRun() {
    const auto run = runCommand("timeout 10 '" SAMPLE_BACKEND_EXECUTABLE "' --request-log --data '" + state_.string() +
                                "' 2>&1 </dev/null");
    EXPECT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == 1) << run.status << ": " << run.output;
    return run.output;
  }

  void expectElsewhereKept() {
    std::ifstream in(victim_);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "kept\n");
    EXPECT_EQ(fs::status(victim_).permissions(), fs::perms(0644));
    EXPECT_EQ(fs::status(elsewhere_).permissions(), fs::perms(0755));
    EXPECT_EQ(std::distance(fs::directory_iterator(elsewhere_), {}), 1);
  }

  static mode_t mode(const fs::path& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
  }

  TempDir dir_{"planted"};
  const fs::path elsewhere_ = dir_.path() / "elsewhere";
  const fs::path victim_ = elsewhere_ / "file";
  const fs::path state_ = dir_.path() / "sample_backend";
};

TEST_F(PlantedDataDirTest, LinksInItsPlaceOrInItAndHardLinkedFilesAreRefused) {
  struct Plant {
    const char* name;  // in the backend's directory; empty for the directory itself
    bool hard;
    const char* why;
  };
  const Plant plants[] = {
      {"", false, "it is a symbolic link"},
      {"sample_backend.lock", false, "it is a symbolic link"},
      {"requests.log", false, "it is a symbolic link"},
      {"sample_backend.sqlite3", false, "it is a symbolic link"},
      {"sample_backend.sqlite3-wal", false, "it is a symbolic link"},
      {"notes.txt", false, "it is a symbolic link"},
      {"sample_backend.lock", true, "it has other names (hard links)"},
      {"requests.log", true, "it has other names (hard links)"},
      {"sample_backend.sqlite3", true, "it has other names (hard links)"},
  };
  for (const auto& plant : plants) {
    SCOPED_TRACE(std::string(plant.name) + (plant.hard ? " (hard)" : ""));
    fs::remove_all(state_);
    const fs::path planted = *plant.name ? state_ / plant.name : state_;
    if (*plant.name) fs::create_directory(state_);
    if (plant.hard) {
      fs::create_hard_link(victim_, planted);
    } else {
      fs::create_symlink(*plant.name ? victim_ : elsewhere_, planted);
    }
    EXPECT_NE(refusedRun().find("sample_backend: will not use " + planted.string() + ": " + plant.why),
              std::string::npos);
    fs::remove(planted);
    expectElsewhereKept();
  }
}

TEST_F(PlantedDataDirTest, ASharedDirectoryOrOneOfAnotherUserIsRefusedAndKeepsItsMode) {
  fs::create_directory(state_);
  ::chmod(state_.c_str(), 01770);
  EXPECT_NE(refusedRun().find(state_.string() + ": it is shared"), std::string::npos);
  EXPECT_EQ(mode(state_), 01770u);
  ::chmod(state_.c_str(), 0777);
  EXPECT_NE(refusedRun().find(state_.string() + ": it is shared"), std::string::npos);
  EXPECT_EQ(mode(state_), 0777u);
  EXPECT_TRUE(fs::is_empty(state_));

  if (::geteuid() != 0) GTEST_SKIP() << "giving a directory to another user takes root";
  ::chmod(state_.c_str(), 0755);
  ASSERT_EQ(::chown(state_.c_str(), 65534, 65534), 0);
  EXPECT_NE(refusedRun().find(state_.string() + ": it belongs to another user"), std::string::npos);
  EXPECT_EQ(mode(state_), 0755u);
  EXPECT_TRUE(fs::is_empty(state_));
}

}  // namespace
