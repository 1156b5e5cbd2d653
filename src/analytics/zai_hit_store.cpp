#include "analytics/zai_hit_store.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <tl/expected.hpp>

#include "platform/foundation/file_kind.h"
#include "platform/foundation/swap_guard.h"

namespace {

// Finalises the statement whatever path leaves the scope.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) {
    if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) stmt_ = nullptr;
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  explicit operator bool() const { return stmt_ != nullptr; }
  sqlite3_stmt* get() const { return stmt_; }
  void bind(int index, const std::string& text) {
    sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  }
  void bind(int index, std::int64_t value) { sqlite3_bind_int64(stmt_, index, value); }
  int step() { return stmt_ ? sqlite3_step(stmt_) : SQLITE_MISUSE; }
  std::string text(int column) const {
    const auto* p = sqlite3_column_text(stmt_, column);
    return p ? std::string(reinterpret_cast<const char*>(p),
                           static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column)))
             : std::string();
  }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

// Checks `fd` (`path`, opened without following a link) is `kind` and this user's: the data
// directory above may be shared, and the hits tell what the student looked at. A mode an earlier
// version left open is closed; a shared folder is refused instead, as closing it would lock its
// other users out. Closes `fd`.
tl::expected<void, std::string> checkOwn(const std::string& path, int fd, mode_t kind) {
  const mode_t privateMode = kind == S_IFDIR ? 0700 : 0600;
  struct stat st {};
  std::string why;
  if (::fstat(fd, &st) != 0) {
    why = std::strerror(errno);
  } else if ((st.st_mode & S_IFMT) != kind) {
    why = "it is " + fileKindText(st.st_mode);
  } else if (st.st_uid != ::geteuid()) {
    why = "it belongs to another user";
  } else if (kind == S_IFDIR && (st.st_mode & (S_IWOTH | S_ISVTX))) {
    why = "it is shared (writable by everyone, or sticky)";
  } else if (kind != S_IFDIR && st.st_nlink > 1) {
    why = "it has other names (hard links), which writing it would change too";
  } else if ((st.st_mode & 07777) != privateMode && ::fchmod(fd, privateMode) != 0) {
    why = std::strerror(errno);
  }
  ::close(fd);
  if (why.empty()) return {};
  return tl::unexpected(path + ": " + why);
}

// A file at `path`, opened without following a link, checked as checkOwn does.
tl::expected<void, std::string> checkOwnFile(const std::string& path, int flags) {
  // Non-blocking, so that a named pipe in its place is refused rather than waited on.
  const int fd = ::open(path.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
  if (fd >= 0) return checkOwn(path, fd, S_IFREG);
  const int error = errno;
  struct stat st {};
  const bool otherKind = ::lstat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode);
  return tl::unexpected(path + ": " + (otherKind ? "it is " + fileKindText(st.st_mode) : std::strerror(error)));
}

// The path to give SQLite once the folder, the store (made when missing: SQLite would create it
// under the umask, and gives its journals the file's mode) and its journals are checked; SQLite
// refuses links anywhere on it, so those above the folder, which the user chose, are resolved.
tl::expected<std::string, std::string> preparePrivately(const std::string& given) {
  const std::filesystem::path file(given);
  // SQLite opens by path, so what holds the folder must not let others swap it for a link once
  // it is checked.
  const std::string named = file.has_parent_path() ? file.parent_path().string() : ".";
  const GuardedDirectory folder = openGuardedDirectory(named, true);
  if (folder.swappable) return tl::unexpected(*folder.swappable);
  if (folder.fd < 0) {
    const std::string why = folder.kind ? "it is " + fileKindText(folder.kind) : std::strerror(folder.error);
    return tl::unexpected((folder.path.empty() ? named : folder.path) + ": " + why);
  }
  const std::string path = (std::filesystem::path(folder.path) / file.filename()).string();
  auto checked =
      checkOwn(folder.path, folder.fd, S_IFDIR).and_then([&] { return checkOwnFile(path, O_RDWR | O_CREAT); });
  for (const char* journal : {"-journal", "-wal", "-shm"}) {
    const std::string name = path + journal;
    struct stat st {};
    // SQLite makes and removes them as it goes.
    if (checked && ::lstat(name.c_str(), &st) == 0) checked = checkOwnFile(name, O_RDONLY);
  }
  if (!checked) return tl::unexpected(checked.error());
  return path;
}

}  // namespace

std::unique_ptr<ZAIHitStore> ZAIHitStore::open(const std::string& path, std::string* refused) {
  const auto prepared = preparePrivately(path);
  if (!prepared) {
    if (refused) *refused = prepared.error();
    return nullptr;
  }
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(prepared->c_str(), &db,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX | SQLITE_OPEN_NOFOLLOW,
                      nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return nullptr;
  }
  sqlite3_busy_timeout(db, 2000);
  std::unique_ptr<ZAIHitStore> store(new ZAIHitStore(db));
  if (!store->exec("CREATE TABLE IF NOT EXISTS hits (id INTEGER PRIMARY KEY AUTOINCREMENT, body TEXT NOT NULL)") ||
      !store->exec("CREATE TABLE IF NOT EXISTS properties (key TEXT PRIMARY KEY, value TEXT NOT NULL)")) {
    return nullptr;
  }
  return store;
}

ZAIHitStore::~ZAIHitStore() { sqlite3_close(db_); }

bool ZAIHitStore::exec(const char* sql) { return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

bool ZAIHitStore::add(const std::string& body, std::size_t keepAtMost) {
  Statement insert(db_, "INSERT INTO hits (body) VALUES (?1)");
  if (!insert) return false;
  insert.bind(1, body);
  if (insert.step() != SQLITE_DONE) return false;
  Statement trim(db_, "DELETE FROM hits WHERE id NOT IN (SELECT id FROM hits ORDER BY id DESC LIMIT ?1)");
  if (trim) {
    trim.bind(1, static_cast<std::int64_t>(keepAtMost));
    trim.step();
  }
  return true;
}

std::optional<ZAIHitStore::Hit> ZAIHitStore::oldest() {
  Statement select(db_, "SELECT id, body FROM hits ORDER BY id LIMIT 1");
  if (select.step() != SQLITE_ROW) return std::nullopt;
  return Hit{sqlite3_column_int64(select.get(), 0), select.text(1)};
}

void ZAIHitStore::remove(std::int64_t id) {
  Statement del(db_, "DELETE FROM hits WHERE id = ?1");
  if (!del) return;
  del.bind(1, id);
  del.step();
}

std::size_t ZAIHitStore::count() {
  Statement select(db_, "SELECT COUNT(*) FROM hits");
  if (select.step() != SQLITE_ROW) return 0;
  return static_cast<std::size_t>(sqlite3_column_int64(select.get(), 0));
}

std::optional<std::string> ZAIHitStore::property(const std::string& key) {
  Statement select(db_, "SELECT value FROM properties WHERE key = ?1");
  if (!select) return std::nullopt;
  select.bind(1, key);
  if (select.step() != SQLITE_ROW) return std::nullopt;
  return select.text(0);
}

void ZAIHitStore::setProperty(const std::string& key, const std::string& value) {
  Statement upsert(db_, "INSERT OR REPLACE INTO properties (key, value) VALUES (?1, ?2)");
  if (!upsert) return;
  upsert.bind(1, key);
  upsert.bind(2, value);
  upsert.step();
}
