#pragma once

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

// Why another user could rename or replace what `directory` holds, and so swap a folder we checked
// in it for a link to somewhere else between our check and our use: it, or a directory above it
// or above a link on the way, belongs to someone other than this user and root, or may be written
// by everyone, or by a group that holds someone else, without the sticky bit. A group holds no one
// else when it is this user's primary group, lists no other member and is no other account's
// primary group. Inside a user namespace, an owner it cannot map (the overflow uid) counts as
// root. `resolved`, when given, gets the path the links lead to, the one to use from then on.
// Directories not made yet are skipped, so check again once they are. One text that names every
// such directory and what to do; nothing when only this user and root can.
std::optional<std::string> whyOthersMaySwapIn(const std::string& directory, std::string* resolved = nullptr);

// What the guard asks the system about accounts and the user namespace; a test may answer instead.
struct SwapGuardFacts {
  struct Account {
    std::string name;
    gid_t primaryGroup = 0;
  };
  struct Group {
    std::string name;
    std::vector<std::string> members;
  };
  // This user (the effective uid); nothing when the account database does not know them.
  std::function<std::optional<Account>()> user;
  std::function<std::optional<Group>(gid_t)> group;
  // The uid of every account whose primary group `gid` is.
  std::function<std::vector<uid_t>(gid_t)> withPrimaryGroup;
  // What /proc/self/uid_map and /proc/sys/kernel/overflowuid hold; nothing when unreadable.
  std::function<std::optional<std::string>()> uidMap, overflowUid;
};

SwapGuardFacts systemSwapGuardFacts();
// Taken by every check from then on; nothing gives the system's back.
void setSwapGuardFacts(std::optional<SwapGuardFacts> facts);

// Makes every missing directory of `path`, the last one too, private (0700); existing ones are left
// alone. 0, or the error of the first one that could not be made.
int makeDirectoriesPrivately(const std::string& path);

// `directory`, opened without following a link in its place, in a parent that whyOthersMaySwapIn
// finds no one else could swap it in, before anything is made and again once it is. `create`:
// missing parents and the directory itself are made private first. Only that it is a directory is
// checked; whose it is and its mode are the caller's to judge.
struct GuardedDirectory {
  int fd = -1;  // the caller's to close
  // With the links above it resolved: the path to use from then on, once its parent is open.
  std::string path;
  // Why others could swap it: nothing was made or opened.
  std::optional<std::string> swappable;
  // Otherwise, when there is no descriptor, the error of what failed, and what stands in its
  // place when that is not a directory (its S_IFMT bits, 0 if nothing or not known).
  int error = 0;
  mode_t kind = 0;
};
GuardedDirectory openGuardedDirectory(const std::string& directory, bool create);
