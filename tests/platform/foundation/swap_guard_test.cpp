#include "platform/foundation/swap_guard.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "support/temp_dir.h"

namespace fs = std::filesystem;

TEST(SwapGuardTest, OnlyDirectoriesThatOthersMayRenameInAreNamed) {
  TempDir tmp{"swap_guard"};
  const fs::path shared = tmp.path() / "shared";
  fs::create_directories(shared / "inner");
  const std::string inner = (shared / "inner").string();

  ::chmod(shared.c_str(), 0777);
  const auto why = whyOthersMaySwapIn(inner + "/not-made-yet");
  ASSERT_TRUE(why);
  EXPECT_EQ(*why, shared.string() + " may be written by others and is not sticky, so they could swap what is in it: "
                                    "choose another directory, or run chmod +t " + shared.string());

  // A link leads to what it names, and that is what is checked and given back.
  const fs::path link = tmp.path() / "link";
  fs::create_directory_symlink(shared / "inner", link);
  EXPECT_EQ(whyOthersMaySwapIn(link.string()), why);

  for (const mode_t fine : {01777, 0755, 0700}) {
    ::chmod(shared.c_str(), fine);
    std::string resolved;
    EXPECT_EQ(whyOthersMaySwapIn(link.string(), &resolved), std::nullopt) << std::oct << fine;
    EXPECT_EQ(resolved, fs::canonical(inner).string());
  }
}

TEST(SwapGuardTest, ADirectoryOfAnotherUserIsNamed) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give a directory away";
  TempDir tmp{"swap_guard"};
  const fs::path theirs = tmp.path() / "theirs";
  fs::create_directories(theirs / "mine");
  ASSERT_EQ(::chown(theirs.c_str(), 65534, 65534), 0);
  ::chmod(theirs.c_str(), 01777);
  const auto why = whyOthersMaySwapIn((theirs / "mine").string());
  ASSERT_TRUE(why);
  EXPECT_EQ(*why, theirs.string() + " belongs to another user, who could swap what is in it: choose a directory of your own");
}
