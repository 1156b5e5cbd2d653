#include "platform/keychain/file_keychain_store.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/foundation/file_kind.h"
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

class UniqueFd {
 public:
  explicit UniqueFd(int fd = -1) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
  }
  ~UniqueFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }

 private:
  int fd_;
};

enum class Trust { Private, ReadableByOthers, NotTrusted };

// Another user could swap what they own or may write; what they may only read can be made private.
Trust trustOf(const struct stat& st) {
  if (st.st_uid != ::geteuid() || (st.st_mode & (S_IWGRP | S_IWOTH)) != 0) return Trust::NotTrusted;
  return (st.st_mode & 077) != 0 ? Trust::ReadableByOthers : Trust::Private;
}

struct Opened {
  int fd = -1;
  struct stat st {};
};

// Opens `name` (relative to the directory `at`) when it is of `type` and trusted, setting it back
// to `mode` when others may only read it; otherwise -1, and `why` says what is not trusted. Never
// waits for a writer, as a named pipe in its place would have it do.
Opened openTrusted(int at, const std::string& name, int flags, mode_t type, mode_t mode,
                   std::optional<std::string>* why) {
  Opened file{::openat(at, name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | flags)};
  if (file.fd < 0) return file;
  bool usable = ::fstat(file.fd, &file.st) == 0 && (file.st.st_mode & S_IFMT) == type;
  const Trust trust = usable ? trustOf(file.st) : Trust::Private;
  if (trust == Trust::NotTrusted) {
    usable = false;
    if (why && !*why) *why = name + (file.st.st_uid != ::geteuid() ? " belongs to another user" : " is writable by others");
  } else if (trust == Trust::ReadableByOthers) {
    usable = ::fchmod(file.fd, mode) == 0;
  }
  if (!usable) {
    ::close(file.fd);
    file.fd = -1;
  }
  return file;
}

Opened openDirectory(const std::string& dir, std::optional<std::string>* why = nullptr) {
  return openTrusted(AT_FDCWD, dir, O_DIRECTORY, S_IFDIR, 0700, why);
}

Opened openItem(int dir, const std::string& name, std::optional<std::string>* why = nullptr) {
  return openTrusted(dir, name, O_NOFOLLOW, S_IFREG, 0600, why);
}

// Item files are named by a SHA-256 in hex; anything else in the directory (a lock file, an
// unfinished write) is not an item.
bool isItemName(const std::string& name) {
  return name.size() == 64 && name.find_first_not_of(kHexDigits) == std::string::npos;
}

void syncDirectory(const std::string& dir) {
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

// Why a directory cannot hold the keychain when something stands where it should be; nothing
// when it is a directory or is not there yet.
std::optional<std::string> whyNotADirectory(const std::string& directory) {
  struct stat st {};
  if (::stat(directory.c_str(), &st) == 0)
    return S_ISDIR(st.st_mode) ? std::nullopt : std::optional(directory + " is " + fileKindText(st.st_mode));
  const int error = errno;
  if (error == ENOENT) return std::nullopt;
  return directory + " cannot be opened: " + std::strerror(error);
}

// Which directory a path stands for: two spellings of one path are one directory.
using FileId = std::pair<dev_t, ino_t>;

std::optional<FileId> idOfDirectory(const std::string& directory) {
  struct stat st {};
  if (::stat(directory.c_str(), &st) != 0) return std::nullopt;
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

// Not through a symbolic link: an item file is never one, though the directory may be.
std::optional<ItemStamp> stampOfItemFile(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return std::nullopt;
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

// A new file from `pathTemplate` (ending in XXXXXX) that this process flocks before writing it. The
// next holder of the lock removes such files that are not flocked: one removed before this process
// flocked it is made anew.
UniqueFd createFlocked(std::string& pathTemplate) {
  const std::string pattern = pathTemplate;
  for (int attempt = 0; attempt < 8; ++attempt) {
    pathTemplate = pattern;
    UniqueFd fd(::mkostemp(pathTemplate.data(), O_CLOEXEC));
    if (!fd) return fd;
    struct stat st {};
    if (!lockExclusive(fd.get()) || ::fstat(fd.get(), &st) != 0) {
      const int error = errno;
      ::unlink(pathTemplate.c_str());
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
UniqueFd writeEraseMarker(const std::string& directory, const std::string& name, const ItemStamp& file) {
  const std::string path = directory + "/" + markerName(name);
  std::string temp = path + "-XXXXXX";
  UniqueFd marker = createFlocked(temp);
  if (!marker) return marker;
  if (::fchmod(marker.get(), 0600) == 0 && writeAll(marker.get(), stampText(file)) && ::fsync(marker.get()) == 0 &&
      ::rename(temp.c_str(), path.c_str()) == 0) {
    syncDirectory(directory);
    return marker;
  }
  ::unlink(temp.c_str());
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

std::vector<std::string> entriesOf(const std::string& directory) {
  std::vector<std::string> names;
  std::error_code error;
  for (std::filesystem::directory_iterator it(directory, error), end; !error && it != end; it.increment(error))
    names.push_back(it->path().filename().string());
  return names;
}

bool newer(const ItemStamp& a, const ItemStamp& b) {
  return std::pair(a.seconds, a.nanoseconds) > std::pair(b.seconds, b.nanoseconds);
}

// The add that followed an ended program's erase of `name`, when its file is whole: the file's name
// in the directory and what it holds. A file its writer still flocks, or that is not the item of
// `name` in full, is not one.
std::optional<std::pair<std::string, ItemFile>> wholeAdd(int dir, const std::string& directory,
                                                         const std::string& name) {
  std::optional<std::pair<std::string, ItemFile>> latest;
  const std::string prefix = name + std::string(kAddInfix);
  for (const auto& entry : entriesOf(directory)) {
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

bool isMarkerAt(int fd, const std::string& path) {
  struct stat mine {}, there {};
  return ::fstat(fd, &mine) == 0 && ::lstat(path.c_str(), &there) == 0 && mine.st_dev == there.st_dev &&
         mine.st_ino == there.st_ino;
}

// After the item was written or unlinked: a marker an ended program left for it is out of date,
// and the number of the file it names may come back.
void removeEndedMarker(const std::string& directory, const std::string& name) {
  const std::string path = directory + "/" + markerName(name);
  const UniqueFd marker(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  if (marker && ::flock(marker.get(), LOCK_EX | LOCK_NB) == 0 && isMarkerAt(marker.get(), path))
    ::unlink(path.c_str());
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
void carryOutEndedSaves(const std::string& directory) {
  const Opened dir = openDirectory(directory);
  if (dir.fd < 0) return;
  const UniqueFd dirOwner(dir.fd);
  bool changed = false;
  const auto names = entriesOf(directory);
  for (const auto& name : names) {
    if (!name.ends_with(kMarkerSuffix)) continue;
    const std::string item = name.substr(0, name.size() - kMarkerSuffix.size());
    if (!isItemName(item)) continue;
    const Opened marker = openItem(dir.fd, name);
    if (marker.fd < 0) continue;
    const UniqueFd owner(marker.fd);
    if (::flock(marker.fd, LOCK_EX | LOCK_NB) != 0) continue;
    std::string why;
    const auto file = stampOfItemFile(directory + "/" + item);
    if (file && readSmallFile(marker.fd, marker.st, why) == stampText(*file)) {
      if (const auto added = wholeAdd(dir.fd, directory, item)) {
        changed = carryThrough(dir.fd, added->first, item) || changed;
      } else {
        if (const auto erased = itemIn(dir.fd, item))
          tellErasedBySave(directory + "/" + item, *file, erased->service, erased->account);
        changed = ::unlinkat(dir.fd, item.c_str(), 0) == 0 || changed;
      }
    }
    ::unlinkat(dir.fd, name.c_str(), 0);
  }
  for (const auto& name : names)
    if (isUnfinishedWrite(name)) changed = removeIfWriterEnded(dir.fd, name) || changed;
  if (changed) ::fsync(dir.fd);
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

std::map<std::string, HeldErase>* erasesHeldIn(const std::string& directory) {
  if (heldDirectories.empty()) return nullptr;
  const auto dir = idOfDirectory(directory);
  if (!dir) return nullptr;
  auto found = heldDirectories.find(*dir);
  return found == heldDirectories.end() ? nullptr : &found->second;
}

// Before the marker is closed, so no reader finds it unheld while it still names the item.
void dropMarker(const std::string& directory, const std::string& name, const HeldErase& erase) {
  const std::string path = directory + "/" + markerName(name);
  if (erase.marker && isMarkerAt(erase.marker.get(), path)) ::unlink(path.c_str());
}

// Whether this process erased `file` under the lock it holds.
bool erasedByThisProcess(const std::string& directory, const std::string& name, const ItemStamp& file) {
  std::lock_guard lock(heldMutex);
  auto* erased = erasesHeldIn(directory);
  if (!erased) return false;
  const auto found = erased->find(name);
  if (found == erased->end()) return false;
  if (found->second.file == file) return true;
  // Another program wrote the item since: that is no longer ours to erase.
  dropMarker(directory, name, found->second);
  erased->erase(found);
  return false;
}

// Else the erase would be named again at every start that renews nothing. One try at the lock: a
// program that holds it carried the erase out when it took it.
void carryOutNamedErase(const std::string& directory) {
  bool held = false;
  {
    std::lock_guard lock(heldMutex);
    held = erasesHeldIn(directory) != nullptr;
  }
  if (held) carryOutEndedSaves(directory);
  else KeychainLock::acquire(directory).reset();
}

bool holdsEraseOf(const std::string& directory, const std::string& name) {
  std::lock_guard lock(heldMutex);
  const auto* erased = erasesHeldIn(directory);
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
void forgetErase(const std::string& directory, const std::string& name) {
  {
    std::lock_guard lock(heldMutex);
    if (auto* erased = erasesHeldIn(directory)) {
      if (const auto found = erased->find(name); found != erased->end()) {
        dropMarker(directory, name, found->second);
        erased->erase(found);
        return;
      }
    }
  }
  removeEndedMarker(directory, name);
}

// What an item's file holds. Nothing when there is no such file or when it is not trusted (the
// first read says why).
std::optional<ItemFile> readItemFile(const std::string& directory, const std::string& name) {
  // The next holder of the lock may carry an ended program's add through meanwhile: then the name
  // has another file, read anew.
  for (int attempt = 0; attempt < 3; ++attempt) {
    const Opened dir = openDirectory(directory);
    if (dir.fd < 0) return std::nullopt;
    const UniqueFd dirOwner(dir.fd);
    const Opened item = openItem(dir.fd, name);
    if (item.fd < 0) {
      const int error = errno;
      struct stat st {};
      if (::fstatat(dir.fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
          (S_ISREG(st.st_mode) && trustOf(st) == Trust::NotTrusted))
        return std::nullopt;
      ItemFile file;
      file.why = S_ISREG(st.st_mode) ? std::string("cannot be opened: ") + std::strerror(error)
                                     : "is " + fileKindText(st.st_mode);
      return file;
    }
    const UniqueFd itemOwner(item.fd);
    ItemFile file{"", stampOf(item.st), std::nullopt};
    if (!erasedByEndedProgram(dir.fd, name, file.stamp)) {
      std::string why;
      if (auto text = readSmallFile(item.fd, item.st, why)) file.text = std::move(*text);
      else file.why = std::move(why);
      return file;
    }
    if (auto added = wholeAdd(dir.fd, directory, name)) return std::move(added->second);
    if (stampOfItemFile(directory + "/" + name) == file.stamp) {
      file.why = kErasedBySave;
      file.erasedBySave = true;
      return file;
    }
  }
  return std::nullopt;
}

// Why a rename could not put the item in place.
std::string whyNotReplaced(const std::string& name, const std::string& path, int error) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) return name + " is " + fileKindText(st.st_mode);
  return std::strerror(error);
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
  std::optional<std::string> why;
  const Opened dir = openDirectory(directory_, &why);
  if (dir.fd < 0) return why;
  std::error_code error;
  for (std::filesystem::directory_iterator it(directory_, error), end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (!isItemName(name)) continue;
    std::optional<std::string> itemWhy;
    const Opened item = openItem(dir.fd, name, &itemWhy);
    if (item.fd >= 0) ::close(item.fd);
    if (itemWhy && !why) why = directory_ + "/" + *itemWhy;
  }
  ::close(dir.fd);
  return why;
}

std::optional<std::string> FileKeychainStore::ensureDirectory() const {
  // Missing parents are created private too; existing ones are left alone.
  for (std::size_t pos = directory_.find('/', 1); pos != std::string::npos; pos = directory_.find('/', pos + 1)) {
    std::string parent = directory_.substr(0, pos);
    if (::mkdir(parent.c_str(), 0700) != 0 && errno != EEXIST) return std::strerror(errno);
  }
  if (::mkdir(directory_.c_str(), 0700) != 0 && errno != EEXIST) return std::strerror(errno);
  struct stat st {};
  if (::stat(directory_.c_str(), &st) != 0) return std::strerror(errno);
  if (!S_ISDIR(st.st_mode)) return "it is " + fileKindText(st.st_mode);
  // Another user's directory stays theirs, even where we could take it over.
  if (st.st_uid != ::geteuid()) return "it belongs to another user";
  // The umask must not widen or narrow what we asked for.
  if ((st.st_mode & 07777) != 0700 && ::chmod(directory_.c_str(), 0700) != 0) return std::strerror(errno);
  return std::nullopt;
}

std::optional<KeychainItem> FileKeychainStore::load(const std::string& service, const std::string& account) {
  if (!modesChecked_) {
    modesChecked_ = true;
    if (auto why = whyNotADirectory(directory_)) {
      std::fprintf(stderr, "dorvale: keychain not usable, signed out: %s\n", why->c_str());
    } else if (auto notTrusted = checkModes()) {
      std::fprintf(stderr, "dorvale: keychain not trusted, signed out: %s\n", notTrusted->c_str());
    }
  }
  const std::string name = itemName(service, account);
  auto file = readItemFile(directory_, name);
  if (!file || erasedByThisProcess(directory_, name, file->stamp)) return std::nullopt;
  if (file->erasedBySave) {
    tellErasedBySave(directory_ + "/" + name, file->stamp, service, account);
    carryOutNamedErase(directory_);
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
  return item;
}

OSStatus FileKeychainStore::refuse(std::string reason) const {
  noteFailure({directory_, std::move(reason)});
  return errSecIO;
}

OSStatus FileKeychainStore::save(const KeychainItem& item) {
  if (auto why = ensureDirectory()) return refuse(std::move(*why));
  const std::string name = itemName(item.service, item.account);
  const std::string path = directory_ + "/" + name;
  // Flocked until it has the item's name. An add that follows an erase held under the lock is
  // carried through by the next holder of the lock should this program end once it is whole.
  std::string temp = path + std::string(holdsEraseOf(directory_, name) ? kAddInfix : kTempInfix) + "XXXXXX";
  const UniqueFd fd = createFlocked(temp);
  if (!fd) return refuse(std::strerror(errno));
  std::optional<std::string> why;
  if (::fchmod(fd.get(), 0600) != 0 || !writeAll(fd.get(), encodeItem(item)) || ::fsync(fd.get()) != 0)
    why = std::strerror(errno);
  if (!why) saveStep("whole");
  if (!why) saveStep("renaming");
  if (!why && ::rename(temp.c_str(), path.c_str()) != 0) why = whyNotReplaced(name, path, errno);
  if (why) {
    ::unlink(temp.c_str());
    return refuse(std::move(*why));
  }
  forgetErase(directory_, name);
  syncDirectory(directory_);
  return errSecSuccess;
}

OSStatus FileKeychainStore::erase(const std::string& service, const std::string& account) {
  const std::string name = itemName(service, account);
  const std::string path = directory_ + "/" + name;
  {
    std::lock_guard lock(heldMutex);
    if (auto* erased = erasesHeldIn(directory_)) {
      const auto file = stampOfItemFile(path);
      if (!file) return errno == ENOENT ? errSecItemNotFound : refuse(std::strerror(errno));
      if (UniqueFd marker = writeEraseMarker(directory_, name, *file)) {
        (*erased)[name] = HeldErase{*file, std::move(marker)};
        return errSecSuccess;
      }
      // Without a marker the erase could not outlast this program: it is done now, and other
      // programs find no item until the add.
    }
  }
  if (::unlink(path.c_str()) != 0) return errno == ENOENT ? errSecItemNotFound : refuse(std::strerror(errno));
  removeEndedMarker(directory_, name);
  syncDirectory(directory_);
  return errSecSuccess;
}

void FileKeychainStore::setSaveStepHook(std::function<void(std::string_view step)> hook) {
  saveStepHook() = std::move(hook);
}

void FileKeychainStore::beginLockedWrites(const std::string& directory) {
  carryOutEndedSaves(directory);
  std::lock_guard lock(heldMutex);
  if (const auto dir = idOfDirectory(directory)) heldDirectories[*dir].clear();
}

void FileKeychainStore::endLockedWrites(const std::string& directory) {
  std::lock_guard lock(heldMutex);
  const auto dir = idOfDirectory(directory);
  if (!dir) return;
  const auto held = heldDirectories.find(*dir);
  if (held == heldDirectories.end()) return;
  bool erasedAny = false;
  std::vector<std::string> done;
  for (const auto& [name, erase] : held->second) {
    const std::string path = directory + "/" + name;
    // Only the file the erase was meant for: another program may have written the item since.
    if (stampOfItemFile(path) == erase.file) {
      // Its marker, left when this program lets it go, keeps the item erased for everyone.
      if (::unlink(path.c_str()) != 0) continue;
      erasedAny = true;
    }
    done.push_back(name);
  }
  if (erasedAny) syncDirectory(directory);
  for (const auto& name : done) dropMarker(directory, name, held->second.at(name));
  heldDirectories.erase(held);
}
