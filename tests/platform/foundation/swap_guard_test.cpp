#include "platform/foundation/swap_guard.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "support/temp_dir.h"

namespace fs = std::filesystem;

gid_t groupOf(const fs::path& dir) {
  struct stat st {};
  EXPECT_EQ(::stat(dir.c_str(), &st), 0) << dir;
  return st.st_gid;
}

// What the guard is told of accounts while it lives.
struct GivenFacts {
  explicit GivenFacts(SwapGuardFacts facts) { setSwapGuardFacts(std::move(facts)); }
  ~GivenFacts() { setSwapGuardFacts(std::nullopt); }
};

// This user, "me", has `gid` for primary group, named "crew", which lists `members` and is the
// primary group of the accounts `primaryOf`.
SwapGuardFacts crew(gid_t gid, std::vector<std::string> members = {}, std::vector<uid_t> primaryOf = {::geteuid()}) {
  SwapGuardFacts facts = systemSwapGuardFacts();
  facts.user = [gid] { return SwapGuardFacts::Account{"me", gid}; };
  facts.group = [members](gid_t) { return SwapGuardFacts::Group{"crew", members}; };
  facts.withPrimaryGroup = [primaryOf](gid_t) { return primaryOf; };
  return facts;
}

std::string writable(const fs::path& dir, const std::string& by, const std::string& chmod) {
  return dir.string() + " is not sticky and may be written by " + by +
         ", so they could swap what is in it: choose another directory" +
         (chmod.empty() ? "" : ", or run chmod " + chmod + " " + dir.string() + " (or chmod +t " + dir.string() + ")");
}

TEST(SwapGuardTest, OnlyDirectoriesThatOthersMayRenameInAreNamed) {
  TempDir tmp{"swap_guard"};
  const fs::path shared = tmp.path() / "shared";
  fs::create_directories(shared / "inner");
  const std::string inner = (shared / "inner").string();
  const GivenFacts own(crew(groupOf(shared)));

  ::chmod(shared.c_str(), 0777);
  const auto why = whyOthersMaySwapIn(inner + "/not-made-yet");
  ASSERT_TRUE(why);
  EXPECT_EQ(*why, writable(shared, "everyone", "o-w"));

  // A link leads to what it names, and that is what is checked and given back.
  const fs::path link = tmp.path() / "link";
  fs::create_directory_symlink(shared / "inner", link);
  EXPECT_EQ(whyOthersMaySwapIn(link.string()), why);
  // One found where others may rename is theirs to point, wherever it leads.
  fs::create_directory_symlink(tmp.path(), shared / "back");
  EXPECT_EQ(whyOthersMaySwapIn((shared / "back").string()), why);

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

// A group that holds no one but this user is as good as the user: umask 002 with a group of one's
// own makes directories so.
TEST(SwapGuardTest, ADirectoryWritableByTheUsersOwnPrivateGroupIsTheirs) {
  TempDir tmp{"swap_guard"};
  const fs::path team = tmp.path() / "team";
  fs::create_directories(team);
  ::chmod(team.c_str(), 0775);
  const gid_t gid = groupOf(team);
  const std::string refused = writable(team, "group crew", "g-w");
  const struct {
    SwapGuardFacts facts;
    std::optional<std::string> why;
  } cases[] = {
      {crew(gid), std::nullopt},
      {crew(gid, {"me"}), std::nullopt},
      {crew(gid, {"me", "ada"}), refused},
      {crew(gid, {}, {::geteuid(), ::geteuid() + 1}), refused},
      {crew(gid + 1), refused},  // not the user's primary group
  };
  for (const auto& c : cases) {
    const GivenFacts given(c.facts);
    EXPECT_EQ(whyOthersMaySwapIn((team / "data").string()), c.why);
  }

  // Every directory on the way is named at once, with the group that could write.
  const fs::path shared = tmp.path() / "shared", inner = shared / "team";
  fs::create_directories(inner);
  ::chmod(shared.c_str(), 0777);
  ::chmod(inner.c_str(), 02775);
  const GivenFacts given(crew(groupOf(inner), {"me", "ada"}));
  EXPECT_EQ(whyOthersMaySwapIn((inner / "data").string()),
            writable(inner, "group crew", "g-w") + "; " + writable(shared, "group crew and everyone", "go-w"));
}

// In a user namespace the kernel shows owners it cannot map, root among them, as the overflow uid.
TEST(SwapGuardTest, AnOwnerAUserNamespaceCannotMapCountsAsRootInsideOneOnly) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give a directory away";
  TempDir tmp{"swap_guard"};
  const fs::path unmapped = tmp.path() / "unmapped";
  fs::create_directories(unmapped);
  ASSERT_EQ(::chown(unmapped.c_str(), 4000, 4000), 0);
  const std::string data = (unmapped / "data").string(),
                    foreign = unmapped.string() + " belongs to another user, who could swap what is in it: " +
                              "choose a directory of your own";
  SwapGuardFacts facts = systemSwapGuardFacts();
  facts.overflowUid = [] { return std::optional<std::string>("4000\n"); };
  facts.group = [](gid_t) { return SwapGuardFacts::Group{"outsiders", {}}; };
  for (const auto& [map, inside] : {std::pair{std::optional<std::string>("         0       1000          1\n"), true},
                                    {std::optional<std::string>("         0          0 4294967295\n"), false},
                                    {std::nullopt, false}}) {
    facts.uidMap = [map = map] { return map; };
    const GivenFacts given(facts);
    ::chmod(unmapped.c_str(), 0755);
    EXPECT_EQ(whyOthersMaySwapIn(data), inside ? std::nullopt : std::optional(foreign)) << map.value_or("unread");
    ::chmod(unmapped.c_str(), 0777);
    EXPECT_EQ(whyOthersMaySwapIn(data), inside ? writable(unmapped, "group outsiders and everyone", "") : foreign);
  }
}
