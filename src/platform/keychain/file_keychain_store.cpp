#include "platform/keychain/file_keychain_store.h"

#include <dirent.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/foundation/file_kind.h"
#include "platform/foundation/swap_guard.h"
#include "platform/foundation/unique_fd.h"
#include "platform/foundation/user_defaults.h"
#include "platform/keychain/item_text.h"
#include "platform/keychain/keychain_lock.h"

namespace {

using keychain_detail::decodeItem;
using keychain_detail::encodeItem;
using keychain_detail::kHexDigits;
using keychain_detail::toHex;

// Items are small; anything larger is not ours.
constexpr off_t kMaxItemFileSize = 1 << 20;

std::string sha256Hex(std::string_view bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr);
  return toHex(std::string_view(reinterpret_cast<const char*>(digest), length));
}

std::string nameOfItem(const std::string& service, const std::string& account) {
  // The length prefix keeps ("ab", "c") and ("a", "bc") apart.
  return sha256Hex(std::to_string(service.size()) + ":" + service + account);
}

bool writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// The whole of a small open file; nothing when it is larger or cannot be read, and `why` says which.
std::optional<std::string> readSmallFile(int fd, const struct stat& st, std::string& why) {
  if (st.st_size > kMaxItemFileSize) {
    why = "is larger than an item can be";
    return std::nullopt;
  }
  std::string text(static_cast<std::size_t>(st.st_size), '\0');
  std::size_t got = 0;
  while (got < text.size()) {
    ssize_t n = ::read(fd, text.data() + got, text.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int error = errno;
      why = n < 0 ? std::string("cannot be read: ") + std::strerror(error) : "is cut short";
      return std::nullopt;
    }
    got += static_cast<std::size_t>(n);
  }
  return text;
}

// Names on standard error are shown as they are, but for bytes a terminal would act on.
std::string printable(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c >= 0x20 && c != 0x7f && c != '\\') {
      out.push_back(static_cast<char>(c));
      continue;
    }
    out += "\\x";
    out.push_back(kHexDigits[c >> 4]);
    out.push_back(kHexDigits[c & 0xF]);
  }
  return out;
}

enum class Trust { Private, ReadableByOthers, NotTrusted };

// Another user could swap what they own or may write; what they may only read can be made private.
Trust trustOf(const struct stat& st) {
  if (st.st_uid != ::geteuid() || (st.st_mode & (S_IWGRP | S_IWOTH)) != 0) return Trust::NotTrusted;
  return (st.st_mode & 077) != 0 ? Trust::ReadableByOthers : Trust::Private;
}

std::string whyNotTrusted(const struct stat& st) {
  return st.st_uid != ::geteuid() ? "belongs to another user" : "is writable by others";
}

struct Opened {
  int fd = -1;
  struct stat st {};
};

// Opens the item file `name` in the directory `dir` when it is a regular file and trusted, making
// it private when others may only read it; otherwise -1, and `why` says what is not trusted. Never
// waits for a writer, as a named pipe in its place would have it do.
Opened openItem(int dir, const std::string& name, std::optional<std::string>* why = nullptr) {
  Opened file{::openat(dir, name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW)};
  if (file.fd < 0) return file;
  bool usable = ::fstat(file.fd, &file.st) == 0 && S_ISREG(file.st.st_mode);
  const Trust trust = usable ? trustOf(file.st) : Trust::Private;
  if (trust == Trust::NotTrusted) {
    usable = false;
    if (why && !*why) *why = name + " " + whyNotTrusted(file.st);
  } else if (trust == Trust::ReadableByOthers) {
    usable = ::fchmod(file.fd, 0600) == 0;
  }
  if (!usable) {
    ::close(file.fd);
    file.fd = -1;
  }
  return file;
}

// Why the keychain directory is not used: `line` names it for standard error, `reason` tells a
// save that names it already.
struct Refusal {
  bool untrusted = false;
  std::string line, reason;
};

// What `directory` (the keychain directory as named) opens to once checked: no descriptor and no
// refusal when it is not there.
struct KeychainDirectory {
  UniqueFd fd;
  std::optional<Refusal> refusal;
};

KeychainDirectory refused(const std::string& directory, const std::string& what, bool untrusted = false) {
  return {UniqueFd(), Refusal{untrusted, directory + " " + what, "it " + what}};
}

KeychainDirectory refusedWith(const std::string& line) { return {UniqueFd(), Refusal{false, line, line}}; }

KeychainDirectory unopened(const std::string& directory, int error) {
  return {UniqueFd(), Refusal{false, directory + " cannot be opened: " + std::strerror(error), std::strerror(error)}};
}

// Opens the keychain directory without following a link in its place, in a parent in which no one
// but this user and root could swap it meanwhile, when it is trusted; makes it private when others
// may only read it. `create`: missing parents and the directory itself are made private first.
KeychainDirectory openKeychainDirectory(const std::string& directory, bool create) {
  const GuardedDirectory opened = openGuardedDirectory(directory, create);
  if (opened.swappable) return refusedWith(*opened.swappable);
  UniqueFd fd(opened.fd);
  if (!fd) {
    if (opened.kind != 0) return refused(directory, "is " + fileKindText(opened.kind));
    return opened.error == ENOENT && !create ? KeychainDirectory() : unopened(directory, opened.error);
  }
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return unopened(directory, errno);
  if (trustOf(st) == Trust::NotTrusted) return refused(directory, whyNotTrusted(st), true);
  // Sticky: made to be shared, so not ours to close.
  if ((st.st_mode & S_ISVTX) != 0) return refused(directory, "is sticky", true);
  // The umask must not widen or narrow what a save asked for.
  if (((st.st_mode & 077) != 0 || (create && (st.st_mode & 07777) != 0700)) && ::fchmod(fd.get(), 0700) != 0)
    return refused(directory, std::string("cannot be made private: ") + std::strerror(errno));
  return {std::move(fd), std::nullopt};
}

// Item files are named by a SHA-256 in hex; anything else in the directory (a lock file, an
// unfinished write) is not an item.
bool isItemName(const std::string& name) {
  return name.size() == 64 && name.find_first_not_of(kHexDigits) == std::string::npos;
}

std::vector<std::string> entriesOf(int dir) {
  std::vector<std::string> names;
  // A descriptor of its own, so that reading it moves no other's offset.
  const int own = ::openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* stream = own < 0 ? nullptr : ::fdopendir(own);
  if (!stream) {
    if (own >= 0) ::close(own);
    return names;
  }
  while (const dirent* entry = ::readdir(stream)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(stream);
  return names;
}

// Which directory a descriptor stands for: two spellings of one path are one directory.
using FileId = std::pair<dev_t, ino_t>;

std::optional<FileId> idOfDirectory(int dir) {
  struct stat st {};
  if (::fstat(dir, &st) != 0) return std::nullopt;
  return FileId{st.st_dev, st.st_ino};
}

// Which file an item's name stood for: a write gives the name another file, and a later file
// that reuses the number of one gone has another modification time.
struct ItemStamp {
  std::uintmax_t device = 0, inode = 0;
  std::intmax_t seconds = 0, nanoseconds = 0;
  bool operator==(const ItemStamp&) const = default;
};

ItemStamp stampOf(const struct stat& st) {
  return {st.st_dev, st.st_ino, st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
}

std::optional<ItemStamp> stampOfItemFile(int dir, const std::string& name) {
  struct stat st {};
  if (::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return std::nullopt;
  return stampOf(st);
}

std::string stampText(const ItemStamp& stamp) {
  char text[96];
  std::snprintf(text, sizeof text, "%ju %ju %jd %jd\n", stamp.device, stamp.inode, stamp.seconds,
                stamp.nanoseconds);
  return text;
}

// An erase made under the keychain lock leaves the item's file to other programs until the lock
// goes, and beside it a marker naming that file. The marker stays flocked while its program holds
// the erase: other programs read the item as before; once that program has ended, however it
// ended, everyone reads the item as erased, or as the add that followed the erase if that add's
// file was whole by then.
constexpr std::string_view kMarkerSuffix = ".erased";
// Files being written, flocked while their writer runs: a plain save's, and an add that follows an
// erase held under the lock, which outlasts its program once whole.
constexpr std::string_view kTempInfix = ".tmp-";
constexpr std::string_view kAddInfix = ".add-";

constexpr const char* kErasedBySave = "was erased by a program that ended while saving it";

std::string markerName(const std::string& item) { return item + std::string(kMarkerSuffix); }

bool lockExclusive(int fd) {
  while (::flock(fd, LOCK_EX) != 0)
    if (errno != EINTR) return false;
  return true;
}

std::string randomSuffix() {
  static constexpr std::string_view kLetters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  thread_local std::mt19937_64 random{std::random_device{}()};
  std::string suffix(6, ' ');
  for (char& c : suffix) c = kLetters[random() % kLetters.size()];
  return suffix;
}

// A new private file in `dir`, named `prefix` and six random letters (set in `name`), that this
// process flocks before writing it. The next holder of the lock removes such files that are not
// flocked: one removed before this process flocked it is made anew.
UniqueFd createFlocked(int dir, const std::string& prefix, std::string& name) {
  for (int attempt = 0; attempt < 8; ++attempt) {
    name = prefix + randomSuffix();
    UniqueFd fd(::openat(dir, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd && errno == EEXIST) continue;
    if (!fd) return fd;
    struct stat st {};
    if (!lockExclusive(fd.get()) || ::fstat(fd.get(), &st) != 0) {
      const int error = errno;
      ::unlinkat(dir, name.c_str(), 0);
      errno = error;
      return UniqueFd();
    }
    if (st.st_nlink > 0) return fd;
  }
  errno = EAGAIN;
  return UniqueFd();
}

// Whole when it gets its name, so no reader takes it for the marker of an ended program. Invalid
// when it cannot be written.
UniqueFd writeEraseMarker(int dir, const std::string& name, const ItemStamp& file) {
  std::string temp;
  UniqueFd marker = createFlocked(dir, markerName(name) + "-", temp);
  if (!marker) return marker;
  if (::fchmod(marker.get(), 0600) == 0 && writeAll(marker.get(), stampText(file)) && ::fsync(marker.get()) == 0 &&
      ::renameat(dir, temp.c_str(), dir, markerName(name).c_str()) == 0) {
    ::fsync(dir);
    return marker;
  }
  ::unlinkat(dir, temp.c_str(), 0);
  return UniqueFd();
}

// What an item's file holds: its text, or why it cannot be used.
struct ItemFile {
  std::string text;
  ItemStamp stamp;
  std::optional<std::string> why;
  // Erased by a program that ended while saving it, with no whole add in its place.
  bool erasedBySave = false;
};

bool newer(const ItemStamp& a, const ItemStamp& b) {
  return std::pair(a.seconds, a.nanoseconds) > std::pair(b.seconds, b.nanoseconds);
}

// The add that followed an ended program's erase of `name`, when its file is whole: the file's name
// in the directory and what it holds. A file its writer still flocks, or that is not the item of
// `name` in full, is not one.
std::optional<std::pair<std::string, ItemFile>> wholeAdd(int dir, const std::string& name) {
  std::optional<std::pair<std::string, ItemFile>> latest;
  const std::string prefix = name + std::string(kAddInfix);
  for (const auto& entry : entriesOf(dir)) {
    if (!entry.starts_with(prefix)) continue;
    const Opened add = openItem(dir, entry);
    if (add.fd < 0) continue;
    const UniqueFd owner(add.fd);
    if (::flock(add.fd, LOCK_SH | LOCK_NB) != 0) continue;
    std::string why;
    auto text = readSmallFile(add.fd, add.st, why);
    const auto item = text ? decodeItem(*text, why) : std::nullopt;
    if (!item || nameOfItem(item->service, item->account) != name) continue;
    if (latest && !newer(stampOf(add.st), latest->second.stamp)) continue;
    latest = std::pair(entry, ItemFile{std::move(*text), stampOf(add.st), std::nullopt});
  }
  return latest;
}

// Standard error hears why an item is not used, and whether the user is signed out for it.
void tellNotUsed(const std::string& path, const std::string& service, const std::string& account,
                 const std::string& why) {
  std::fprintf(stderr, "dorvale: keychain item not used: %s (%s, %s) %s%s\n", path.c_str(), printable(service).c_str(),
               printable(account).c_str(), why.c_str(), KeychainStore::holdsSignIn(service, account) ? ", signed out" : "");
}

std::mutex toldMutex;
std::set<std::string> toldErasedBySave;

// Once a process for each file so erased, whether a read or the next holder of the lock finds it first.
void tellErasedBySave(const std::string& path, const ItemStamp& file, const std::string& service,
                      const std::string& account) {
  {
    std::lock_guard lock(toldMutex);
    if (!toldErasedBySave.insert(path + " " + stampText(file)).second) return;
  }
  tellNotUsed(path, service, account, kErasedBySave);
}

// Whether an ended program's marker erases `file`.
bool erasedByEndedProgram(int dir, const std::string& name, const ItemStamp& file) {
  const Opened marker = openItem(dir, markerName(name));
  if (marker.fd < 0) return false;
  const UniqueFd owner(marker.fd);
  // Still held: for the other programs the item stands until its program is done with it.
  if (::flock(marker.fd, LOCK_SH | LOCK_NB) != 0) return false;
  // Let go of since it was opened: its program took it away, having written or erased the item.
  struct stat there {};
  if (::fstatat(dir, markerName(name).c_str(), &there, AT_SYMLINK_NOFOLLOW) != 0 ||
      there.st_dev != marker.st.st_dev || there.st_ino != marker.st.st_ino)
    return false;
  std::string why;
  return readSmallFile(marker.fd, marker.st, why) == stampText(file);
}

bool isMarkerAt(int fd, int dir, const std::string& name) {
  struct stat mine {}, there {};
  return ::fstat(fd, &mine) == 0 && ::fstatat(dir, markerName(name).c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0 &&
         mine.st_dev == there.st_dev && mine.st_ino == there.st_ino;
}

// After the item was written or unlinked: a marker an ended program left for it is out of date,
// and the number of the file it names may come back.
void removeEndedMarker(int dir, const std::string& name) {
  const UniqueFd marker(::openat(dir, markerName(name).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  if (marker && ::flock(marker.get(), LOCK_EX | LOCK_NB) == 0 && isMarkerAt(marker.get(), dir, name))
    ::unlinkat(dir, markerName(name).c_str(), 0);
}

// Gives the item of `name` the file of a whole add, synced first: its writer may have ended before
// it synced.
bool carryThrough(int dir, const std::string& add, const std::string& name) {
  const Opened file = openItem(dir, add);
  if (file.fd < 0) return false;
  const UniqueFd owner(file.fd);
  return ::fsync(file.fd) == 0 && ::renameat(dir, add.c_str(), dir, name.c_str()) == 0;
}

// The item the file `name` holds, if any.
std::optional<KeychainItem> itemIn(int dir, const std::string& name) {
  const Opened file = openItem(dir, name);
  if (file.fd < 0) return std::nullopt;
  const UniqueFd owner(file.fd);
  std::string why;
  const auto text = readSmallFile(file.fd, file.st, why);
  return text ? decodeItem(*text, why) : std::nullopt;
}

// Files of writes that began and whose writer ended before it gave them their place: marker,
// plain save or add.
bool isUnfinishedWrite(const std::string& name) {
  if (name.size() <= 64 || !isItemName(name.substr(0, 64))) return false;
  const std::string_view rest = std::string_view(name).substr(64);
  return rest.starts_with(kTempInfix) || rest.starts_with(kAddInfix) ||
         rest.starts_with(std::string(kMarkerSuffix) + "-");
}

bool removeIfWriterEnded(int dir, const std::string& name) {
  const Opened file = openItem(dir, name);
  if (file.fd < 0) return false;
  const UniqueFd owner(file.fd);
  struct stat there {};
  return ::flock(file.fd, LOCK_EX | LOCK_NB) == 0 && ::fstatat(dir, name.c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0 &&
         there.st_dev == file.st.st_dev && there.st_ino == file.st.st_ino && ::unlinkat(dir, name.c_str(), 0) == 0;
}

// Carries out what programs that ended holding the lock left: each erase, or the add that followed
// it once its file was whole, and removes the files of writes cut short. The lock is ours now: no
// marker belongs to a program that still holds its erase.
void carryOutEndedSaves(int dir, const std::string& directory) {
  bool changed = false;
  const auto names = entriesOf(dir);
  for (const auto& name : names) {
    if (!name.ends_with(kMarkerSuffix)) continue;
    const std::string item = name.substr(0, name.size() - kMarkerSuffix.size());
    if (!isItemName(item)) continue;
    const Opened marker = openItem(dir, name);
    if (marker.fd < 0) continue;
    const UniqueFd owner(marker.fd);
    if (::flock(marker.fd, LOCK_EX | LOCK_NB) != 0) continue;
    std::string why;
    const auto file = stampOfItemFile(dir, item);
    if (file && readSmallFile(marker.fd, marker.st, why) == stampText(*file)) {
      if (const auto added = wholeAdd(dir, item)) {
        changed = carryThrough(dir, added->first, item) || changed;
      } else {
        if (const auto erased = itemIn(dir, item))
          tellErasedBySave(directory + "/" + item, *file, erased->service, erased->account);
        changed = ::unlinkat(dir, item.c_str(), 0) == 0 || changed;
      }
    }
    ::unlinkat(dir, name.c_str(), 0);
  }
  for (const auto& name : names)
    if (isUnfinishedWrite(name)) changed = removeIfWriterEnded(dir, name) || changed;
  if (changed) ::fsync(dir);
}

// An erase this process made under the lock and has not carried out: the file it was meant for,
// and its marker, held open (and so flocked) until then.
struct HeldErase {
  ItemStamp file;
  UniqueFd marker;
};

// The keychain directories this process holds the lock on, by the directory's own identity, each
// with the erases held in it by item name.
std::mutex heldMutex;
std::map<FileId, std::map<std::string, HeldErase>> heldDirectories;

std::map<std::string, HeldErase>* erasesHeldIn(int dir) {
  if (heldDirectories.empty()) return nullptr;
  const auto id = idOfDirectory(dir);
  if (!id) return nullptr;
  auto found = heldDirectories.find(*id);
  return found == heldDirectories.end() ? nullptr : &found->second;
}

// Before the marker is closed, so no reader finds it unheld while it still names the item.
void dropMarker(int dir, const std::string& name, const HeldErase& erase) {
  if (erase.marker && isMarkerAt(erase.marker.get(), dir, name)) ::unlinkat(dir, markerName(name).c_str(), 0);
}

// Whether this process erased `file` under the lock it holds.
bool erasedByThisProcess(int dir, const std::string& name, const ItemStamp& file) {
  std::lock_guard lock(heldMutex);
  auto* erased = erasesHeldIn(dir);
  if (!erased) return false;
  const auto found = erased->find(name);
  if (found == erased->end()) return false;
  if (found->second.file == file) return true;
  // Another program wrote the item since: that is no longer ours to erase.
  dropMarker(dir, name, found->second);
  erased->erase(found);
  return false;
}

// Else the erase would be named again at every start that renews nothing. One try at the lock: a
// program that holds it carried the erase out when it took it.
void carryOutNamedErase(int dir, const std::string& directory) {
  bool held = false;
  {
    std::lock_guard lock(heldMutex);
    held = erasesHeldIn(dir) != nullptr;
  }
  if (held) carryOutEndedSaves(dir, directory);
  else KeychainLock::acquire(directory).reset();
}

bool holdsEraseOf(int dir, const std::string& name) {
  std::lock_guard lock(heldMutex);
  const auto* erased = erasesHeldIn(dir);
  return erased && erased->count(name) != 0;
}

std::function<void(std::string_view)>& saveStepHook() {
  static std::function<void(std::string_view)> hook;
  return hook;
}

void saveStep(std::string_view step) {
  if (saveStepHook()) saveStepHook()(step);
}

// After the item was written: an erase of it is done with.
void forgetErase(int dir, const std::string& name) {
  {
    std::lock_guard lock(heldMutex);
    if (auto* erased = erasesHeldIn(dir)) {
      if (const auto found = erased->find(name); found != erased->end()) {
        dropMarker(dir, name, found->second);
        erased->erase(found);
        return;
      }
    }
  }
  removeEndedMarker(dir, name);
}

// What an item's file holds. Nothing when there is no such file or when it is not trusted (the
// first read says why).
std::optional<ItemFile> readItemFile(int dir, const std::string& name) {
  // The next holder of the lock may carry an ended program's add through meanwhile: then the name
  // has another file, read anew.
  for (int attempt = 0; attempt < 3; ++attempt) {
    const Opened item = openItem(dir, name);
    if (item.fd < 0) {
      const int error = errno;
      struct stat st {};
      if (::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
          (S_ISREG(st.st_mode) && trustOf(st) == Trust::NotTrusted))
        return std::nullopt;
      ItemFile file;
      file.why = S_ISREG(st.st_mode) ? std::string("cannot be opened: ") + std::strerror(error)
                                     : "is " + fileKindText(st.st_mode);
      return file;
    }
    const UniqueFd itemOwner(item.fd);
    ItemFile file{"", stampOf(item.st), std::nullopt};
    if (!erasedByEndedProgram(dir, name, file.stamp)) {
      std::string why;
      if (auto text = readSmallFile(item.fd, item.st, why)) file.text = std::move(*text);
      else file.why = std::move(why);
      return file;
    }
    if (auto added = wholeAdd(dir, name)) return std::move(added->second);
    if (stampOfItemFile(dir, name) == file.stamp) {
      file.why = kErasedBySave;
      file.erasedBySave = true;
      return file;
    }
  }
  return std::nullopt;
}

// Why a rename could not put the item in place.
std::string whyNotReplaced(int dir, const std::string& name, int error) {
  struct stat st {};
  if (::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISREG(st.st_mode))
    return name + " is " + fileKindText(st.st_mode);
  return std::strerror(error);
}

// Why the keychain, or one of its items, is not used, looking over every item; makes private what
// others may only read.
std::optional<Refusal> refusalOf(const std::string& directory) {
  const KeychainDirectory dir = openKeychainDirectory(directory, false);
  if (!dir.fd) return dir.refusal;
  std::optional<std::string> why;
  for (const auto& name : entriesOf(dir.fd.get())) {
    if (!isItemName(name)) continue;
    const Opened item = openItem(dir.fd.get(), name, &why);
    if (item.fd >= 0) ::close(item.fd);
  }
  if (!why) return std::nullopt;
  return Refusal{true, directory + "/" + *why, *why};
}

}  // namespace

FileKeychainStore::FileKeychainStore(std::string directory) : directory_(std::move(directory)) {}

std::string FileKeychainStore::defaultDirectory() { return UserDefaults::applicationDataDirectory() + "/keychain"; }

std::string FileKeychainStore::pathForItem(const std::string& service, const std::string& account) const {
  return directory_ + "/" + itemName(service, account);
}

std::string FileKeychainStore::itemName(const std::string& service, const std::string& account) {
  return nameOfItem(service, account);
}

std::optional<std::string> FileKeychainStore::checkModes() const {
  const auto refusal = refusalOf(directory_);
  return refusal ? std::optional(refusal->line) : std::nullopt;
}

int FileKeychainStore::openDirectory(const std::string& directory) {
  return openKeychainDirectory(directory, false).fd.release();
}

std::optional<KeychainItem> FileKeychainStore::load(const std::string& service, const std::string& account) {
  if (!modesChecked_) {
    modesChecked_ = true;
    if (const auto refusal = refusalOf(directory_))
      std::fprintf(stderr, "dorvale: keychain not %s, signed out: %s\n", refusal->untrusted ? "trusted" : "usable",
                   refusal->line.c_str());
  }
  const KeychainDirectory dir = openKeychainDirectory(directory_, false);
  if (!dir.fd) return std::nullopt;
  const std::string name = itemName(service, account);
  auto file = readItemFile(dir.fd.get(), name);
  if (!file || erasedByThisProcess(dir.fd.get(), name, file->stamp)) return std::nullopt;
  if (file->erasedBySave) {
    tellErasedBySave(directory_ + "/" + name, file->stamp, service, account);
    carryOutNamedErase(dir.fd.get(), directory_);
    return std::nullopt;
  }
  std::string why = file->why.value_or("");
  std::optional<KeychainItem> item;
  if (!file->why) item = decodeItem(file->text, why);
  // A hash collision or a file copied under another name is not this item.
  if (item && (item->service != service || item->account != account)) {
    item.reset();
    why = "holds another item";
  }
  if (!item && toldUnusable_.insert(name).second) tellNotUsed(directory_ + "/" + name, service, account, why);
  if (item) item->modified = KeychainStamp{file->stamp.seconds, file->stamp.nanoseconds};
  return item;
}

OSStatus FileKeychainStore::refuse(std::string reason) const {
  noteFailure({directory_, std::move(reason)});
  return errSecIO;
}

OSStatus FileKeychainStore::save(const KeychainItem& item) {
  const KeychainDirectory dir = openKeychainDirectory(directory_, true);
  if (!dir.fd) return refuse(dir.refusal ? dir.refusal->reason : std::strerror(ENOENT));
  const int at = dir.fd.get();
  const std::string name = itemName(item.service, item.account);
  // Flocked until it has the item's name. An add that follows an erase held under the lock is
  // carried through by the next holder of the lock should this program end once it is whole.
  std::string temp;
  const UniqueFd fd = createFlocked(at, name + std::string(holdsEraseOf(at, name) ? kAddInfix : kTempInfix), temp);
  if (!fd) return refuse(std::strerror(errno));
  std::optional<std::string> why;
  if (::fchmod(fd.get(), 0600) != 0 || !writeAll(fd.get(), encodeItem(item)) || ::fsync(fd.get()) != 0)
    why = std::strerror(errno);
  if (!why) saveStep("whole");
  if (!why) saveStep("renaming");
  if (!why && ::renameat(at, temp.c_str(), at, name.c_str()) != 0) why = whyNotReplaced(at, name, errno);
  if (why) {
    ::unlinkat(at, temp.c_str(), 0);
    return refuse(std::move(*why));
  }
  forgetErase(at, name);
  ::fsync(at);
  return errSecSuccess;
}

OSStatus FileKeychainStore::erase(const std::string& service, const std::string& account) {
  const KeychainDirectory dir = openKeychainDirectory(directory_, false);
  if (!dir.fd) return dir.refusal ? refuse(dir.refusal->reason) : errSecItemNotFound;
  const int at = dir.fd.get();
  const std::string name = itemName(service, account);
  {
    std::lock_guard lock(heldMutex);
    if (auto* erased = erasesHeldIn(at)) {
      const auto file = stampOfItemFile(at, name);
      if (!file) return errno == ENOENT ? errSecItemNotFound : refuse(std::strerror(errno));
      if (UniqueFd marker = writeEraseMarker(at, name, *file)) {
        (*erased)[name] = HeldErase{*file, std::move(marker)};
        return errSecSuccess;
      }
      // Without a marker the erase could not outlast this program: it is done now, and other
      // programs find no item until the add.
    }
  }
  if (::unlinkat(at, name.c_str(), 0) != 0) return errno == ENOENT ? errSecItemNotFound : refuse(std::strerror(errno));
  removeEndedMarker(at, name);
  ::fsync(at);
  return errSecSuccess;
}

void FileKeychainStore::setSaveStepHook(std::function<void(std::string_view step)> hook) {
  saveStepHook() = std::move(hook);
}

void FileKeychainStore::beginLockedWrites(int dir, const std::string& directory) {
  carryOutEndedSaves(dir, directory);
  std::lock_guard lock(heldMutex);
  if (const auto id = idOfDirectory(dir)) heldDirectories[*id].clear();
}

void FileKeychainStore::endLockedWrites(int dir) {
  std::lock_guard lock(heldMutex);
  const auto id = idOfDirectory(dir);
  if (!id) return;
  const auto held = heldDirectories.find(*id);
  if (held == heldDirectories.end()) return;
  bool erasedAny = false;
  std::vector<std::string> done;
  for (const auto& [name, erase] : held->second) {
    // Only the file the erase was meant for: another program may have written the item since.
    if (stampOfItemFile(dir, name) == erase.file) {
      // Its marker, left when this program lets it go, keeps the item erased for everyone.
      if (::unlinkat(dir, name.c_str(), 0) != 0) continue;
      erasedAny = true;
    }
    done.push_back(name);
  }
  if (erasedAny) ::fsync(dir);
  for (const auto& name : done) dropMarker(dir, name, held->second.at(name));
  heldDirectories.erase(held);
}
