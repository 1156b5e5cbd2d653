#include "platform/keychain/file_keychain_store.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <utility>

#include "platform/foundation/user_defaults.h"

namespace {

constexpr int kFormatVersion = 1;
// Items are small; anything larger is not ours.
constexpr off_t kMaxItemFileSize = 1 << 20;

constexpr char kHexDigits[] = "0123456789abcdef";

std::string toHex(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    out.push_back(kHexDigits[c >> 4]);
    out.push_back(kHexDigits[c & 0xF]);
  }
  return out;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::optional<std::string> fromHex(std::string_view hex) {
  if (hex.size() % 2 != 0) return std::nullopt;
  std::string out;
  out.reserve(hex.size() / 2);
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    int hi = hexValue(hex[i]), lo = hexValue(hex[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out.push_back(static_cast<char>(hi << 4 | lo));
  }
  return out;
}

// Every text is stored hex-encoded: services, accounts and labels are arbitrary bytes and JSON
// only carries UTF-8.
std::optional<std::string> hexField(const nlohmann::json& j, const char* key) {
  auto it = j.find(key);
  if (it == j.end() || !it->is_string()) return std::nullopt;
  return fromHex(it->get_ref<const std::string&>());
}

// Absent is fine for optional fields; present but malformed makes the whole file unreadable.
bool optionalHexField(const nlohmann::json& j, const char* key, std::optional<std::string>& out) {
  if (!j.contains(key)) return true;
  out = hexField(j, key);
  return out.has_value();
}

std::string encodeItem(const KeychainItem& item) {
  nlohmann::json j = nlohmann::json::object();
  j["version"] = kFormatVersion;
  j["service"] = toHex(item.service);
  j["account"] = toHex(item.account);
  j["data"] = toHex(item.data.view());
  j["accessibility"] = toHex(item.accessibility);
  if (item.label) j["label"] = toHex(*item.label);
  if (item.accessGroup) j["accessGroup"] = toHex(*item.accessGroup);
  if (item.generic) j["generic"] = toHex(*item.generic);
  return j.dump();
}

std::optional<KeychainItem> decodeItem(const std::string& text) {
  auto j = nlohmann::json::parse(text, nullptr, false);
  if (!j.is_object()) return std::nullopt;
  auto version = j.find("version");
  // Compared as 64 bits: a narrower read would wrap 2^32 + 1 to version 1.
  if (version == j.end() || !version->is_number_integer() || version->get<std::int64_t>() != kFormatVersion)
    return std::nullopt;
  auto service = hexField(j, "service");
  auto account = hexField(j, "account");
  auto data = hexField(j, "data");
  auto accessibility = hexField(j, "accessibility");
  if (!service || !account || !data || !accessibility) return std::nullopt;
  KeychainItem item;
  item.service = std::move(*service);
  item.account = std::move(*account);
  item.data = Data::fromString(*data);
  item.accessibility = std::move(*accessibility);
  if (!optionalHexField(j, "label", item.label) || !optionalHexField(j, "accessGroup", item.accessGroup) ||
      !optionalHexField(j, "generic", item.generic))
    return std::nullopt;
  return item;
}

std::string sha256Hex(std::string_view bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr);
  return toHex(std::string_view(reinterpret_cast<const char*>(digest), length));
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

// The whole of a small open file; nothing when it is larger or cannot be read.
std::optional<std::string> readSmallFile(int fd, const struct stat& st) {
  if (st.st_size > kMaxItemFileSize) return std::nullopt;
  std::string text(static_cast<std::size_t>(st.st_size), '\0');
  std::size_t got = 0;
  while (got < text.size()) {
    ssize_t n = ::read(fd, text.data() + got, text.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return std::nullopt;
    got += static_cast<std::size_t>(n);
  }
  return text;
}

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

// Which file a name stood for: a rename over it gives the name another.
using FileId = std::pair<dev_t, ino_t>;

FileId idOf(const struct stat& st) { return {st.st_dev, st.st_ino}; }

// Not through a symbolic link: an item file is never one, though the directory may be.
std::optional<FileId> idOfItemFile(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return std::nullopt;
  return idOf(st);
}

std::optional<FileId> idOfDirectory(const std::string& directory) {
  struct stat st {};
  if (::stat(directory.c_str(), &st) != 0) return std::nullopt;
  return idOf(st);
}

// The keychain directories this process holds the lock on, by the directory's own identity (two
// spellings of one path are one directory), each with the item files erased while it is held:
// item name -> the file the erase was meant for.
std::mutex heldMutex;
std::map<FileId, std::map<std::string, FileId>> heldDirectories;

std::map<std::string, FileId>* erasesHeldIn(const std::string& directory) {
  if (heldDirectories.empty()) return nullptr;
  const auto dir = idOfDirectory(directory);
  if (!dir) return nullptr;
  auto found = heldDirectories.find(*dir);
  return found == heldDirectories.end() ? nullptr : &found->second;
}

}  // namespace

FileKeychainStore::FileKeychainStore(std::string directory) : directory_(std::move(directory)) {}

std::string FileKeychainStore::defaultDirectory() { return UserDefaults::applicationDataDirectory() + "/keychain"; }

std::string FileKeychainStore::pathForItem(const std::string& service, const std::string& account) const {
  return directory_ + "/" + itemName(service, account);
}

std::string FileKeychainStore::itemName(const std::string& service, const std::string& account) {
  // The length prefix keeps ("ab", "c") and ("a", "bc") apart.
  return sha256Hex(std::to_string(service.size()) + ":" + service + account);
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

bool FileKeychainStore::ensureDirectory() const {
  // Missing parents are created private too; existing ones are left alone.
  for (std::size_t pos = directory_.find('/', 1); pos != std::string::npos; pos = directory_.find('/', pos + 1)) {
    std::string parent = directory_.substr(0, pos);
    if (::mkdir(parent.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  if (::mkdir(directory_.c_str(), 0700) != 0 && errno != EEXIST) return false;
  struct stat st {};
  // Another user's directory stays theirs, even where we could take it over.
  if (::stat(directory_.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) return false;
  // The umask must not widen or narrow what we asked for.
  return (st.st_mode & 07777) == 0700 || ::chmod(directory_.c_str(), 0700) == 0;
}

std::optional<KeychainItem> FileKeychainStore::load(const std::string& service, const std::string& account) {
  if (!modesChecked_) {
    modesChecked_ = true;
    if (auto why = checkModes()) std::fprintf(stderr, "dorvale: keychain not trusted, signed out: %s\n", why->c_str());
  }
  const std::string name = itemName(service, account);
  struct stat st {};
  auto text = readItem(name, &st);
  if (!text) return std::nullopt;
  {
    std::lock_guard lock(heldMutex);
    if (auto* erased = erasesHeldIn(directory_)) {
      const auto found = erased->find(name);
      if (found != erased->end()) {
        if (found->second == idOf(st)) return std::nullopt;
        // Another program wrote the item since: that is no longer ours to erase.
        erased->erase(found);
      }
    }
  }
  auto item = decodeItem(*text);
  // A hash collision or a file copied under another name is not this item.
  if (!item || item->service != service || item->account != account) return std::nullopt;
  return item;
}

std::optional<std::string> FileKeychainStore::readItem(const std::string& name, struct stat* st) const {
  const Opened dir = openDirectory(directory_);
  if (dir.fd < 0) return std::nullopt;
  const Opened item = openItem(dir.fd, name);
  ::close(dir.fd);
  if (item.fd < 0) return std::nullopt;
  auto text = readSmallFile(item.fd, item.st);
  ::close(item.fd);
  *st = item.st;
  return text;
}

OSStatus FileKeychainStore::save(const KeychainItem& item) {
  if (!ensureDirectory()) return errSecIO;
  const std::string path = pathForItem(item.service, item.account);
  std::string temp = path + ".tmp-XXXXXX";
  int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return errSecIO;
  bool ok = ::fchmod(fd, 0600) == 0 && writeAll(fd, encodeItem(item)) && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  if (!ok || ::rename(temp.c_str(), path.c_str()) != 0) {
    ::unlink(temp.c_str());
    return errSecIO;
  }
  {
    std::lock_guard lock(heldMutex);
    if (auto* erased = erasesHeldIn(directory_)) erased->erase(itemName(item.service, item.account));
  }
  syncDirectory(directory_);
  return errSecSuccess;
}

OSStatus FileKeychainStore::erase(const std::string& service, const std::string& account) {
  const std::string path = pathForItem(service, account);
  {
    std::lock_guard lock(heldMutex);
    if (auto* erased = erasesHeldIn(directory_)) {
      const auto file = idOfItemFile(path);
      if (!file) return errno == ENOENT ? errSecItemNotFound : errSecIO;
      (*erased)[itemName(service, account)] = *file;
      return errSecSuccess;
    }
  }
  if (::unlink(path.c_str()) != 0) return errno == ENOENT ? errSecItemNotFound : errSecIO;
  syncDirectory(directory_);
  return errSecSuccess;
}

void FileKeychainStore::beginLockedWrites(const std::string& directory) {
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
  for (const auto& [name, file] : held->second) {
    const std::string path = directory + "/" + name;
    // Only the file the erase was meant for: another program may have written the item since.
    if (idOfItemFile(path) == file) erasedAny = ::unlink(path.c_str()) == 0 || erasedAny;
  }
  heldDirectories.erase(held);
  if (erasedAny) syncDirectory(directory);
}
