#include "platform/foundation/swap_guard.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <system_error>

#include "platform/foundation/unique_fd.h"

namespace fs = std::filesystem;

namespace {

// Calls `lookup` (a getpwuid_r or getgrgid_r) with a buffer that grows until the entry fits.
template <typename Entry, typename Lookup>
bool lookUp(Entry& entry, std::vector<char>& buffer, Lookup lookup) {
  buffer.resize(1024);
  for (;;) {
    Entry* found = nullptr;
    const int error = lookup(&entry, buffer.data(), buffer.size(), &found);
    if (error == ERANGE && buffer.size() < (1u << 20)) {
      buffer.resize(buffer.size() * 4);
      continue;
    }
    return error == 0 && found != nullptr;
  }
}

std::optional<std::string> contentsOf(const char* path) {
  std::ifstream in(path);
  if (!in) return std::nullopt;
  std::string text((std::istreambuf_iterator<char>(in)), {});
  if (in.bad()) return std::nullopt;
  return text;
}

// getpwent walks one cursor shared by the whole process.
std::mutex accountWalk;

std::mutex factsMutex;
std::optional<SwapGuardFacts> givenFacts;

SwapGuardFacts currentFacts() {
  std::lock_guard lock(factsMutex);
  return givenFacts ? *givenFacts : systemSwapGuardFacts();
}

std::vector<std::string> fieldsOf(const std::string& text) {
  std::istringstream in(text);
  return {std::istream_iterator<std::string>(in), {}};
}

// The uid that the kernel shows for owners this user namespace cannot map; nothing outside one,
// or when that cannot be told.
std::optional<uid_t> unmappedOwner(const SwapGuardFacts& facts) {
  const auto map = facts.uidMap();
  const auto overflow = facts.overflowUid();
  if (!map || !overflow) return std::nullopt;
  if (fieldsOf(*map) == std::vector<std::string>{"0", "0", "4294967295"}) return std::nullopt;
  const auto fields = fieldsOf(*overflow);
  if (fields.size() != 1 || fields[0].find_first_not_of("0123456789") != std::string::npos || fields[0].size() > 9)
    return std::nullopt;
  return static_cast<uid_t>(std::stoul(fields[0]));
}

// What is known of the account database for one check, asked only when a directory needs it.
class Accounts {
 public:
  explicit Accounts(SwapGuardFacts facts) : facts_(std::move(facts)) {}

  bool mayBeOwnedBy(uid_t owner) {
    if (owner == ::geteuid() || owner == 0) return true;
    if (!unmapped_) unmapped_ = unmappedOwner(facts_);
    return *unmapped_ && owner == **unmapped_;
  }

  // Only this user is in the group.
  bool holdsNoOneElse(gid_t gid) {
    if (!user_) user_ = facts_.user();
    if (!*user_ || (*user_)->primaryGroup != gid) return false;
    if (!ownGroup_) {
      const auto& group = groupOf(gid);
      const auto isUser = [&](const std::string& member) { return member == (*user_)->name; };
      ownGroup_ = group && std::all_of(group->members.begin(), group->members.end(), isUser);
      if (*ownGroup_) {
        const auto primary = facts_.withPrimaryGroup(gid);
        ownGroup_ = std::all_of(primary.begin(), primary.end(), [](uid_t uid) { return uid == ::geteuid(); });
      }
    }
    return *ownGroup_;
  }

  std::string groupName(gid_t gid) {
    const auto group = groupOf(gid);
    return "group " + (group && !group->name.empty() ? group->name : std::to_string(gid));
  }

 private:
  const std::optional<SwapGuardFacts::Group>& groupOf(gid_t gid) {
    auto found = groups_.find(gid);
    if (found == groups_.end()) found = groups_.emplace(gid, facts_.group(gid)).first;
    return found->second;
  }

  SwapGuardFacts facts_;
  std::optional<std::optional<uid_t>> unmapped_;
  std::optional<std::optional<SwapGuardFacts::Account>> user_;
  std::optional<bool> ownGroup_;  // of the user's primary group
  std::map<gid_t, std::optional<SwapGuardFacts::Group>> groups_;
};

// Why others could swap what `dir` holds, with what this user could do about it; nothing when
// they cannot.
std::optional<std::string> whyOthersMaySwapInOne(const std::string& dir, const struct stat& st, Accounts& accounts) {
  if (!accounts.mayBeOwnedBy(st.st_uid))
    return dir + " belongs to another user, who could swap what is in it: choose a directory of your own";
  if ((st.st_mode & S_ISVTX) != 0) return std::nullopt;
  const bool group = (st.st_mode & S_IWGRP) != 0 && !accounts.holdsNoOneElse(st.st_gid);
  const bool everyone = (st.st_mode & S_IWOTH) != 0;
  if (!group && !everyone) return std::nullopt;
  std::string why = dir + " is not sticky and may be written by " + (group ? accounts.groupName(st.st_gid) : "") +
                    (group && everyone ? " and " : "") + (everyone ? "everyone" : "") +
                    ", so they could swap what is in it: choose another directory";
  // Taking the write away keeps the directory shared with no one else; the sticky bit shares it.
  if (st.st_uid == ::geteuid())
    why += std::string(", or run chmod ") + (group ? "g" : "") + (everyone ? "o" : "") + "-w " + dir +
           " (or chmod +t " + dir + ")";
  return why;
}

}  // namespace

SwapGuardFacts systemSwapGuardFacts() {
  SwapGuardFacts facts;
  facts.user = []() -> std::optional<SwapGuardFacts::Account> {
    passwd entry{};
    std::vector<char> buffer;
    if (!lookUp(entry, buffer, [](passwd* e, char* b, std::size_t n, passwd** found) {
          return ::getpwuid_r(::geteuid(), e, b, n, found);
        }))
      return std::nullopt;
    return SwapGuardFacts::Account{entry.pw_name, entry.pw_gid};
  };
  facts.group = [](gid_t gid) -> std::optional<SwapGuardFacts::Group> {
    group entry{};
    std::vector<char> buffer;
    if (!lookUp(entry, buffer,
                [gid](group* e, char* b, std::size_t n, group** found) { return ::getgrgid_r(gid, e, b, n, found); }))
      return std::nullopt;
    SwapGuardFacts::Group found{entry.gr_name, {}};
    for (char** member = entry.gr_mem; member && *member; ++member) found.members.emplace_back(*member);
    return found;
  };
  facts.withPrimaryGroup = [](gid_t gid) {
    std::vector<uid_t> uids;
    std::lock_guard lock(accountWalk);
    ::setpwent();
    while (const passwd* entry = ::getpwent())
      if (entry->pw_gid == gid) uids.push_back(entry->pw_uid);
    ::endpwent();
    return uids;
  };
  facts.uidMap = [] { return contentsOf("/proc/self/uid_map"); };
  facts.overflowUid = [] { return contentsOf("/proc/sys/kernel/overflowuid"); };
  return facts;
}

void setSwapGuardFacts(std::optional<SwapGuardFacts> facts) {
  std::lock_guard lock(factsMutex);
  givenFacts = std::move(facts);
}

std::optional<std::string> whyOthersMaySwapIn(const std::string& directory, std::string* resolved) {
  std::error_code error;
  const fs::path absolute = fs::absolute(directory.empty() ? "." : directory, error);
  if (error) return directory + " cannot be resolved: " + error.message();
  // Walked as the kernel walks it: a link found in a directory others may rename in is theirs to
  // point, so every directory a name is looked up in counts, not only those of where it leads.
  // Each is judged as the walk found it, by a descriptor, so that the walk stays linear in depth.
  Accounts accounts(currentFacts());
  std::vector<std::string> refusals;
  std::set<std::pair<dev_t, ino_t>> lookedIn;
  std::string path = "/";
  // The directory walked, and what the walk found of it.
  struct stat here {};
  UniqueFd at(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
  bool made = at && ::fstat(at.get(), &here) == 0;
  const auto lookIn = [&] {
    if (!made || !lookedIn.emplace(here.st_dev, here.st_ino).second) return;
    if (auto why = whyOthersMaySwapInOne(path, here, accounts)) refusals.push_back(std::move(*why));
  };
  // Enters `name` of the directory walked, or "/"; false when it cannot be.
  const auto enter = [&](const char* name) {
    UniqueFd next(::openat(at.get(), name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat entered {};
    if (!next || ::fstat(next.get(), &entered) != 0) return false;
    at = std::move(next);
    here = entered;
    return true;
  };
  const auto append = [&](const std::string& name) { path += (path == "/" ? "" : "/") + name; };
  const auto up = [&] { path.resize(std::max<std::size_t>(path.rfind('/'), 1)); };
  std::deque<std::string> names;
  for (const auto& name : absolute.relative_path()) names.push_back(name.string());
  std::optional<std::string> unresolved;
  for (int links = 0; !names.empty() && !unresolved;) {
    std::string name = std::move(names.front());
    names.pop_front();
    if (name.empty() || name == ".") continue;
    if (name == "..") {
      up();
      if (made && !enter("..")) unresolved = std::strerror(errno);
      continue;
    }
    lookIn();
    struct stat st {};
    // Not made yet: the rest is taken as it is written.
    if (!made || ::fstatat(at.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (made && errno != ENOENT && errno != ENOTDIR) unresolved = std::strerror(errno);
      made = false;
      append(name);
      continue;
    }
    if (S_ISDIR(st.st_mode)) {
      // Replaced since it was looked at: looked up again.
      if (!enter(name.c_str())) names.push_front(std::move(name));
      else append(name);
      continue;
    }
    if (!S_ISLNK(st.st_mode)) {
      // Nothing can be below a file.
      made = false;
      append(name);
      continue;
    }
    if (++links > 40) {
      unresolved = std::strerror(ELOOP);
      continue;
    }
    std::string target(PATH_MAX, '\0');
    const ssize_t size = ::readlinkat(at.get(), name.c_str(), target.data(), target.size());
    if (size < 0 && errno != EINVAL) unresolved = std::strerror(errno);
    if (size <= 0) {
      // No longer a link: looked up again.
      names.push_front(std::move(name));
      continue;
    }
    target.resize(static_cast<std::size_t>(size));
    if (target.front() == '/') {
      path = "/";
      if (!enter("/")) unresolved = std::strerror(errno);
    }
    const fs::path to(target);
    for (auto part = to.end(); part != to.begin();)
      if (--part; !part->empty() && *part != "/") names.push_front(part->string());
  }
  lookIn();
  if (resolved) *resolved = path;
  // Innermost first: the directory named first is then most often the one the user chose.
  std::string why;
  for (auto one = refusals.rbegin(); one != refusals.rend(); ++one) why += (why.empty() ? "" : "; ") + *one;
  // Whatever stopped the walk, what others may swap on the way is what to change.
  if (!why.empty()) return why;
  if (unresolved) return directory + " cannot be resolved: " + *unresolved;
  return std::nullopt;
}

int makeDirectoriesPrivately(const std::string& path) {
  for (std::size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
    if (::mkdir(path.substr(0, end).c_str(), 0700) != 0 && errno != EEXIST) return errno;
    if (end == std::string::npos) return 0;
  }
}

GuardedDirectory openGuardedDirectory(const std::string& directory, bool create) {
  std::string path = directory.empty() ? "." : directory;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  const std::size_t slash = path.rfind('/');
  const std::string parent = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  const std::string name = path == "/" ? "." : path.substr(slash + 1);
  GuardedDirectory opened;
  if (create) {
    // Not even a missing parent is made where others could swap it before the directory is.
    if ((opened.swappable = whyOthersMaySwapIn(parent))) return opened;
    if (slash != std::string::npos && slash != 0 && (opened.error = makeDirectoriesPrivately(parent))) return opened;
  }
  std::string above;
  if ((opened.swappable = whyOthersMaySwapIn(parent, &above))) return opened;
  const int aboveFd = ::open(above.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (aboveFd < 0) {
    opened.error = errno;
    return opened;
  }
  opened.path = name == "." ? above : (above == "/" ? "" : above) + "/" + name;
  if (create && ::mkdirat(aboveFd, name.c_str(), 0700) != 0 && errno != EEXIST) {
    opened.error = errno;
  } else {
    opened.fd = ::openat(aboveFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    struct stat st {};
    if (opened.fd < 0 && (opened.error = errno) && ::fstatat(aboveFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        !S_ISDIR(st.st_mode))
      opened.kind = st.st_mode & S_IFMT;
  }
  ::close(aboveFd);
  return opened;
}
