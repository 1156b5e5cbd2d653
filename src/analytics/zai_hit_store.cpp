#include "analytics/zai_hit_store.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

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

// The hits tell what the student looked at: what is created here is the owner's alone. SQLite
// would create the file under the umask, and gives its journals the file's mode.
void preparePrivately(const std::string& path) {
  const auto folder = std::filesystem::path(path).parent_path();
  std::string prefix;
  for (const auto& part : folder) {
    prefix = (std::filesystem::path(prefix) / part).string();
    if (::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) return;
  }
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
  if (fd < 0) return;
  // Earlier versions created it readable by everyone.
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 077) != 0)
    ::fchmod(fd, st.st_mode & 0700);
  ::close(fd);
}

}  // namespace

std::unique_ptr<ZAIHitStore> ZAIHitStore::open(const std::string& path) {
  preparePrivately(path);
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX, nullptr) !=
      SQLITE_OK) {
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
