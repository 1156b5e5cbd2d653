#include "store.h"

#include <fmt/format.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <ctime>
#include <iterator>
#include <stdexcept>

namespace {

const char* const kSchema = R"sql(
CREATE TABLE IF NOT EXISTS accounts(id INTEGER PRIMARY KEY,
  email TEXT NOT NULL UNIQUE COLLATE NOCASE,
  first_name TEXT NOT NULL, last_name TEXT NOT NULL, salt TEXT, password_hash TEXT);
CREATE TABLE IF NOT EXISTS account_schools(account INTEGER NOT NULL, school INTEGER NOT NULL,
  PRIMARY KEY(account, school));
CREATE TABLE IF NOT EXISTS tokens(token TEXT PRIMARY KEY, account INTEGER NOT NULL, expires INTEGER);
CREATE TABLE IF NOT EXISTS provider_links(provider TEXT NOT NULL, token TEXT NOT NULL,
  account INTEGER NOT NULL, PRIMARY KEY(provider, token));
CREATE TABLE IF NOT EXISTS removed_lectures(account INTEGER NOT NULL, lecture INTEGER NOT NULL,
  PRIMARY KEY(account, lecture));
CREATE TABLE IF NOT EXISTS results(id INTEGER PRIMARY KEY, account INTEGER NOT NULL,
  quiz INTEGER NOT NULL,
  score REAL NOT NULL, time INTEGER NOT NULL, result INTEGER NOT NULL, date TEXT NOT NULL,
  answers_score TEXT NOT NULL, max_score INTEGER NOT NULL, mobile_id INTEGER NOT NULL,
  questions_id TEXT NOT NULL, quiz_level INTEGER);
CREATE INDEX IF NOT EXISTS results_by_account ON results(account);
CREATE INDEX IF NOT EXISTS results_best ON results(account, quiz, score / max_score, id);
CREATE TABLE IF NOT EXISTS earned(account INTEGER NOT NULL, achievement INTEGER NOT NULL,
  lecture INTEGER NOT NULL, PRIMARY KEY(account, achievement));
CREATE TABLE IF NOT EXISTS pictures(account INTEGER PRIMARY KEY, format TEXT NOT NULL,
  bytes BLOB NOT NULL,
  version INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS recoveries(id INTEGER PRIMARY KEY, account INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS zedodo_grants(id INTEGER PRIMARY KEY, client_id TEXT NOT NULL,
  revoked INTEGER NOT NULL DEFAULT 0);
CREATE TABLE IF NOT EXISTS zedodo_codes(code TEXT PRIMARY KEY, grant_id INTEGER NOT NULL,
  client_id TEXT NOT NULL, redirect_uri TEXT NOT NULL, challenge TEXT NOT NULL,
  expires INTEGER NOT NULL, used INTEGER NOT NULL DEFAULT 0);
CREATE TABLE IF NOT EXISTS zedodo_tokens(token TEXT PRIMARY KEY, kind TEXT NOT NULL,
  grant_id INTEGER NOT NULL, expires INTEGER, used INTEGER NOT NULL DEFAULT 0);
)sql";

std::string hex(const unsigned char* bytes, std::size_t size) {
  std::string text;
  for (std::size_t i = 0; i < size; ++i) text += fmt::format("{:02x}", bytes[i]);
  return text;
}

std::string randomHex(std::size_t bytes) {
  std::string buffer(bytes, '\0');
  if (RAND_bytes(reinterpret_cast<unsigned char*>(buffer.data()), static_cast<int>(bytes)) != 1)
    throw std::runtime_error("no random bytes");
  return hex(reinterpret_cast<const unsigned char*>(buffer.data()), bytes);
}

std::string pbkdf2(const std::string& password, const std::string& salt, int iterations) {
  unsigned char key[32];
  if (PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()),
                        reinterpret_cast<const unsigned char*>(salt.data()), static_cast<int>(salt.size()), iterations,
                        EVP_sha256(), sizeof key, key) != 1)
    throw std::runtime_error("password hashing failed");
  return hex(key, sizeof key);
}

// Only a digest of a bearer token is kept, so a copy of the database signs nobody in.
std::string tokenDigest(const std::string& token) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(token.data(), token.size(), digest, &length, EVP_sha256(), nullptr) != 1)
    throw std::runtime_error("token hashing failed");
  return hex(digest, length);
}

// Hashes stored before counts were kept used this many.
constexpr int kLegacyIterations = 10000;

std::int64_t unixNow() { return static_cast<std::int64_t>(std::time(nullptr)); }

void execOn(sqlite3* db, const char* sql) {
  char* error = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
    std::string message = error ? error : "unknown error";
    sqlite3_free(error);
    throw std::runtime_error("sqlite: " + message);
  }
}

// Read connections open at once. SQLite keeps each one's descriptors, and a closed one's too while
// another connection of the process holds a lock on the file, so the pool is bounded, not trimmed.
constexpr std::size_t kMaxReaders = 8;
// A batch of results: few enough rows, and of texts, that a read is short and its copy small.
constexpr int kBatchRows = 2048;
constexpr std::size_t kBatchText = 1 << 20;

const char* const kResultColumns =
    "SELECT id, account, quiz, score, time, result, date, answers_score, max_score, mobile_id, questions_id, "
    "quiz_level FROM results";

template <class Row>
QuizResult resultOf(Row& row) {
  return {row.integer(0), row.integer(1), row.integer(2),
          row.real(3),    row.integer(4), row.integer(5),
          row.text(6),    row.text(7),    row.integer(8),
          row.integer(9), row.text(10),   row.isNull(11) ? std::nullopt : std::optional(row.integer(11))};
}

}  // namespace

PasswordHash PasswordHash::of(const std::string& password, int iterations) {
  PasswordHash result{randomHex(16), "", iterations};
  result.hash = pbkdf2(password, result.salt, iterations);
  return result;
}

bool PasswordHash::verifies(const std::string& password) const {
  const std::string computed = pbkdf2(password, salt, iterations);
  return computed.size() == hash.size() && CRYPTO_memcmp(computed.data(), hash.data(), hash.size()) == 0;
}

class Store::Statement {
 public:
  template <class... Args>
  Statement(sqlite3* db, const char* sql, const Args&... args) : db_(db) {
    if (sqlite3_prepare_v2(db, sql, -1, &statement_, nullptr) != SQLITE_OK) fail();
    int index = 0;
    (bind(++index, args), ...);
  }
  ~Statement() { sqlite3_finalize(statement_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  // True while there is a row to read.
  bool step() {
    const int code = sqlite3_step(statement_);
    if (code != SQLITE_ROW && code != SQLITE_DONE) fail();
    return code == SQLITE_ROW;
  }
  std::int64_t integer(int column) { return sqlite3_column_int64(statement_, column); }
  double real(int column) { return sqlite3_column_double(statement_, column); }
  bool isNull(int column) { return sqlite3_column_type(statement_, column) == SQLITE_NULL; }
  std::string text(int column) {
    const void* bytes = sqlite3_column_blob(statement_, column);
    return bytes ? std::string(static_cast<const char*>(bytes), sqlite3_column_bytes(statement_, column)) : "";
  }

 private:
  void bind(int index, std::int64_t value) { check(sqlite3_bind_int64(statement_, index, value)); }
  void bind(int index, int value) { bind(index, static_cast<std::int64_t>(value)); }
  void bind(int index, double value) { check(sqlite3_bind_double(statement_, index, value)); }
  void bind(int index, const std::string& value) {
    check(sqlite3_bind_text(statement_, index, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT));
  }
  void bind(int index, const std::optional<std::int64_t>& value) {
    if (value) return bind(index, *value);
    check(sqlite3_bind_null(statement_, index));
  }
  void check(int code) {
    if (code != SQLITE_OK) fail();
  }
  [[noreturn]] void fail() { throw std::runtime_error(std::string("sqlite: ") + sqlite3_errmsg(db_)); }

  sqlite3* db_;
  sqlite3_stmt* statement_ = nullptr;
};

template <class Body>
auto Store::transaction(Body body) {
  std::lock_guard lock(mutex_);
  exec("BEGIN IMMEDIATE");
  try {
    if constexpr (std::is_void_v<decltype(body())>) {
      body();
      exec("COMMIT");
    } else {
      auto result = body();
      exec("COMMIT");
      return result;
    }
  } catch (...) {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

template <class Body>
auto Store::read(Body body) {
  // Ends the read, whatever `body` did, and gives the connection back.
  struct Lease {
    Store& store;
    sqlite3* db;
    ~Lease() {
      if (!sqlite3_get_autocommit(db)) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
      store.returnReader(db);
    }
  } lease{*this, takeReader()};
  execOn(lease.db, "BEGIN");
  return body(lease.db);
}

sqlite3* Store::takeReader() {
  std::unique_lock lock(readersMutex_);
  readerFree_.wait(lock, [this] { return !readers_.empty() || openReaders_ < kMaxReaders; });
  if (!readers_.empty()) {
    sqlite3* db = readers_.back();
    readers_.pop_back();
    return db;
  }
  ++openReaders_;
  lock.unlock();
  try {
    return open();
  } catch (...) {
    lock.lock();
    --openReaders_;
    lock.unlock();
    readerFree_.notify_one();
    throw;
  }
}

void Store::returnReader(sqlite3* db) {
  {
    std::lock_guard lock(readersMutex_);
    readers_.push_back(db);
  }
  readerFree_.notify_one();
}

sqlite3* Store::open() {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(checked_.path().c_str(), &db,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOFOLLOW, nullptr) != SQLITE_OK) {
    std::string message = sqlite3_errmsg(db);
    sqlite3_close(db);
    throw std::runtime_error("cannot open " + file_.string() + ": " + message);
  }
  sqlite3_busy_timeout(db, 5000);
  return db;
}

Store::Store(const std::filesystem::path& file, const Options& options) : file_(file), checked_(file), options_(options) {
  db_ = open();
  // So that a read of results and the writes of sign-ins go on side by side.
  exec("PRAGMA journal_mode = WAL");
  transaction([this] {
    exec(kSchema);
    migrate();
  });
}

void Store::fault(std::string_view step) {
  if (faultHook) faultHook(step);
}

// Databases of earlier versions: tokens stored as issued get their digest and a full lifetime;
// password hashes without a count keep the count they were made with.
void Store::migrate() {
  const auto addColumn = [this](const char* table, const char* column) {
    if (!Statement(db_, fmt::format("SELECT 1 FROM pragma_table_info('{}') WHERE name = '{}'", table, column).c_str())
             .step())
      exec(fmt::format("ALTER TABLE {} ADD COLUMN {} INTEGER", table, column).c_str());
  };
  addColumn("accounts", "iterations");
  addColumn("tokens", "expires");
  // Null for accounts made before it was kept.
  addColumn("accounts", "password_changed");
  std::vector<std::string> plain;
  for (Statement query(db_, "SELECT token FROM tokens WHERE expires IS NULL"); query.step();)
    plain.push_back(query.text(0));
  for (const auto& token : plain)
    Statement(db_, "UPDATE tokens SET token = ?, expires = ? WHERE token = ?", tokenDigest(token),
              unixNow() + options_.tokenLifetime.count(), token)
        .step();
}

Store::~Store() {
  for (sqlite3* reader : readers_) sqlite3_close(reader);
  sqlite3_close(db_);
}

void Store::exec(const char* sql) { execOn(db_, sql); }

namespace {
const char* const kAccountColumns = "SELECT id, email, first_name, last_name, password_hash IS NOT NULL FROM accounts";
}

std::optional<Account> Store::account(std::int64_t id) {
  std::lock_guard lock(mutex_);
  Statement query(db_, fmt::format("{} WHERE id = ?", kAccountColumns).c_str(), id);
  if (!query.step()) return std::nullopt;
  return Account{query.integer(0), query.text(1), query.text(2), query.text(3), query.integer(4) != 0};
}

std::optional<Account> Store::accountByEmail(const std::string& email) {
  std::lock_guard lock(mutex_);
  Statement query(db_, "SELECT id FROM accounts WHERE email = ?", email);
  if (!query.step()) return std::nullopt;
  return account(query.integer(0));
}

std::optional<std::int64_t> Store::createAccount(const Account& account, const std::optional<PasswordHash>& password,
                                                 const std::vector<std::int64_t>& schools,
                                                 const std::optional<ProviderLink>& link) {
  return transaction([&]() -> std::optional<std::int64_t> {
    if (Statement(db_, "SELECT 1 FROM accounts WHERE email = ?", account.email).step()) return std::nullopt;
    Statement(db_, "INSERT INTO accounts(email, first_name, last_name, password_changed) VALUES(?, ?, ?, 0)",
              account.email, account.firstName, account.lastName)
        .step();
    const std::int64_t id = sqlite3_last_insert_rowid(db_);
    fault("account inserted");
    for (std::int64_t school : schools)
      Statement(db_, "INSERT OR IGNORE INTO account_schools VALUES(?, ?)", id, school).step();
    if (password) setPassword(id, *password);
    if (link) linkProvider(id, link->provider, link->key);
    return id;
  });
}

std::optional<PasswordHash> Store::password(std::int64_t accountId) {
  std::lock_guard lock(mutex_);
  Statement query(db_,
                  "SELECT salt, password_hash, iterations FROM accounts WHERE id = ? AND password_hash IS NOT NULL",
                  accountId);
  if (!query.step()) return std::nullopt;
  return PasswordHash{query.text(0), query.text(1),
                      query.isNull(2) ? kLegacyIterations : static_cast<int>(query.integer(2))};
}

std::optional<bool> Store::passwordChanged(std::int64_t accountId) {
  std::lock_guard lock(mutex_);
  Statement query(db_, "SELECT password_changed FROM accounts WHERE id = ?", accountId);
  if (!query.step() || query.isNull(0)) return std::nullopt;
  return query.integer(0) != 0;
}

void Store::recordPasswordChanged(std::int64_t accountId, bool changed) {
  std::lock_guard lock(mutex_);
  Statement(db_, "UPDATE accounts SET password_changed = ? WHERE id = ?", changed ? 1 : 0, accountId).step();
}

void Store::setPassword(std::int64_t accountId, const PasswordHash& password) {
  std::lock_guard lock(mutex_);
  Statement(db_, "UPDATE accounts SET salt = ?, password_hash = ?, iterations = ? WHERE id = ?", password.salt,
            password.hash, password.iterations, accountId)
      .step();
}

std::string Store::changePassword(std::int64_t accountId, const PasswordHash& password) {
  return transaction([&] {
    setPassword(accountId, password);
    recordPasswordChanged(accountId, true);
    fault("password set");
    Statement(db_, "DELETE FROM tokens WHERE account = ?", accountId).step();
    return issueToken(accountId);
  });
}

std::vector<std::int64_t> Store::schools(std::int64_t accountId) {
  std::lock_guard lock(mutex_);
  std::vector<std::int64_t> ids;
  Statement query(db_, "SELECT school FROM account_schools WHERE account = ? ORDER BY school", accountId);
  while (query.step()) ids.push_back(query.integer(0));
  return ids;
}

std::string Store::issueToken(std::int64_t accountId) {
  std::lock_guard lock(mutex_);
  std::string token = randomHex(24);
  Statement(db_, "INSERT INTO tokens VALUES(?, ?, ?)", tokenDigest(token), accountId,
            unixNow() + options_.tokenLifetime.count())
      .step();
  return token;
}

std::optional<std::int64_t> Store::accountForToken(const std::string& provider, const std::string& token) {
  std::lock_guard lock(mutex_);
  auto query =
      // Expiry is in whole seconds from the second of issue: a token stays good through its last
      // second, so it never lives less than its lifetime.
      provider == "basic"
          ? Statement(db_, "SELECT account FROM tokens WHERE token = ? AND expires >= ?", tokenDigest(token), unixNow())
          : Statement(db_, "SELECT account FROM provider_links WHERE provider = ? AND token = ?", provider, token);
  if (!query.step()) return std::nullopt;
  return query.integer(0);
}

void Store::linkProvider(std::int64_t accountId, const std::string& provider, const std::string& token) {
  std::lock_guard lock(mutex_);
  Statement(db_, "INSERT OR REPLACE INTO provider_links VALUES(?, ?, ?)", provider, token, accountId).step();
}

bool Store::hasProvider(std::int64_t accountId, const std::string& provider) {
  std::lock_guard lock(mutex_);
  return Statement(db_, "SELECT 1 FROM provider_links WHERE account = ? AND provider = ?", accountId, provider).step();
}

std::vector<std::int64_t> Store::removedLectures(std::int64_t accountId) {
  std::lock_guard lock(mutex_);
  std::vector<std::int64_t> ids;
  Statement query(db_, "SELECT lecture FROM removed_lectures WHERE account = ?", accountId);
  while (query.step()) ids.push_back(query.integer(0));
  return ids;
}

void Store::setLectureRemoved(std::int64_t accountId, std::int64_t lectureId, bool removed) {
  std::lock_guard lock(mutex_);
  Statement(db_,
            removed ? "INSERT OR IGNORE INTO removed_lectures VALUES(?, ?)"
                    : "DELETE FROM removed_lectures WHERE account = ? AND lecture = ?",
            accountId, lectureId)
      .step();
}

std::vector<QuizResult> Store::saveResults(std::vector<QuizResult> results,
                                           const std::vector<std::pair<std::int64_t, std::int64_t>>& achievements) {
  return transaction([&] {
    for (auto& result : results) {
      Statement(db_,
                "INSERT INTO results(account, quiz, score, time, result, date, answers_score, max_score, mobile_id, "
                "questions_id, quiz_level) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
                result.accountId, result.quizId, result.score, result.time, result.result, result.date,
                result.answersScore, result.maxScore, result.mobileId, result.questionsId, result.quizLevelId)
          .step();
      result.id = sqlite3_last_insert_rowid(db_);
    }
    fault("results saved");
    for (const auto& [achievement, lecture] : achievements)
      Statement(db_, "INSERT OR IGNORE INTO earned VALUES(?, ?, ?)", results.front().accountId, achievement, lecture)
          .step();
    return results;
  });
}

std::vector<QuizResult> Store::results(std::int64_t accountId) {
  std::vector<QuizResult> list, batch;
  for (resultsAfter(accountId, 0, batch); !batch.empty(); resultsAfter(accountId, list.back().id, batch))
    list.insert(list.end(), std::make_move_iterator(batch.begin()), std::make_move_iterator(batch.end()));
  return list;
}

void Store::resultsAfter(std::int64_t accountId, std::int64_t afterId, std::vector<QuizResult>& batch) {
  batch.clear();
  read([&](sqlite3* db) {
    Statement query(db, fmt::format("{} WHERE account = ? AND id > ? ORDER BY id LIMIT ?", kResultColumns).c_str(),
                    accountId, afterId, kBatchRows);
    // Rows of a backend that kept texts of megabytes make a batch of a few.
    for (std::size_t text = 0; text < kBatchText && query.step();) {
      if (batch.empty()) fault("results read");
      batch.push_back(resultOf(query));
      text += batch.back().answersScore.size() + batch.back().questionsId.size() + batch.back().date.size();
    }
  });
}

std::vector<QuizResult> Store::bestResults(std::int64_t accountId, const std::vector<std::int64_t>& quizzes) {
  // In the order of the index results_best, which finds the row without reading the others.
  const std::string sql =
      fmt::format("{} WHERE account = ? AND quiz = ? ORDER BY score / max_score DESC, id DESC LIMIT 1", kResultColumns);
  return read([&](sqlite3* db) {
    std::vector<QuizResult> best;
    for (std::size_t i = 0; i < quizzes.size(); ++i) {
      Statement query(db, sql.c_str(), accountId, quizzes[i]);
      if (query.step()) best.push_back(resultOf(query));
      if (i == 0) fault("results read");
    }
    return best;
  });
}

std::int64_t Store::resultCount(std::int64_t accountId) {
  return read([&](sqlite3* db) {
    Statement query(db, "SELECT COUNT(*) FROM results WHERE account = ?", accountId);
    query.step();
    fault("results read");
    return query.integer(0);
  });
}

std::vector<std::pair<std::int64_t, std::int64_t>> Store::earned(std::int64_t accountId) {
  std::lock_guard lock(mutex_);
  std::vector<std::pair<std::int64_t, std::int64_t>> list;
  Statement query(db_, "SELECT achievement, lecture FROM earned WHERE account = ? ORDER BY achievement", accountId);
  while (query.step()) list.emplace_back(query.integer(0), query.integer(1));
  return list;
}

void Store::setPicture(std::int64_t accountId, const std::string& format, const std::string& bytes) {
  std::lock_guard lock(mutex_);
  Statement(db_,
            "INSERT INTO pictures VALUES(?1, ?2, ?3, 1) ON CONFLICT(account) DO UPDATE SET format = ?2, "
            "bytes = ?3, version = version + 1",
            accountId, format, bytes)
      .step();
}

std::optional<Picture> Store::picture(std::int64_t accountId) {
  std::lock_guard lock(mutex_);
  Statement query(db_, "SELECT format, bytes, version FROM pictures WHERE account = ?", accountId);
  if (!query.step()) return std::nullopt;
  return Picture{query.text(0), query.text(1), query.integer(2)};
}

void Store::recordRecovery(std::int64_t accountId) {
  std::lock_guard lock(mutex_);
  Statement(db_, "INSERT INTO recoveries(account) VALUES(?)", accountId).step();
}

std::int64_t Store::addZedodoGrant(const std::string& code, const ZedodoCode& record) {
  return transaction([&] {
    Statement(db_, "INSERT INTO zedodo_grants(client_id) VALUES(?)", record.clientID).step();
    const std::int64_t grant = sqlite3_last_insert_rowid(db_);
    Statement(db_, "INSERT INTO zedodo_codes VALUES(?, ?, ?, ?, ?, ?, 0)", tokenDigest(code), grant, record.clientID,
              record.redirectURI, record.challenge, record.expires)
        .step();
    return grant;
  });
}

std::optional<ZedodoCode> Store::useZedodoCode(const std::string& code) {
  return transaction([&]() -> std::optional<ZedodoCode> {
    const std::string digest = tokenDigest(code);
    Statement query(db_,
                    "SELECT client_id, redirect_uri, challenge, grant_id, expires, used FROM zedodo_codes "
                    "WHERE code = ? AND expires >= ?",
                    digest, unixNow());
    if (!query.step()) return std::nullopt;
    ZedodoCode found{query.text(0),    query.text(1),    query.text(2),
                     query.integer(3), query.integer(4), query.integer(5) != 0};
    Statement(db_, "UPDATE zedodo_codes SET used = 1 WHERE code = ?", digest).step();
    return found;
  });
}

void Store::issueZedodoTokens(std::int64_t grant, const std::string& accessToken, std::int64_t expires,
                              const std::string& refreshToken, const std::string& spent) {
  transaction([&] {
    if (!spent.empty())
      Statement(db_, "UPDATE zedodo_tokens SET used = 1 WHERE token = ? AND kind = 'refresh'", tokenDigest(spent))
          .step();
    Statement(db_, "INSERT INTO zedodo_tokens VALUES(?, 'access', ?, ?, 0)", tokenDigest(accessToken), grant, expires)
        .step();
    Statement(db_, "INSERT INTO zedodo_tokens VALUES(?, 'refresh', ?, NULL, 0)", tokenDigest(refreshToken), grant)
        .step();
  });
}

std::optional<ZedodoToken> Store::zedodoAccessToken(const std::string& token) { return zedodoToken("access", token); }

std::optional<ZedodoToken> Store::zedodoRefreshToken(const std::string& token) { return zedodoToken("refresh", token); }

std::optional<ZedodoToken> Store::zedodoToken(const std::string& kind, const std::string& token) {
  std::lock_guard lock(mutex_);
  Statement query(db_,
                  "SELECT t.grant_id, g.client_id, g.revoked, t.expires, t.used FROM zedodo_tokens t "
                  "JOIN zedodo_grants g ON g.id = t.grant_id WHERE t.token = ? AND t.kind = ?",
                  tokenDigest(token), kind);
  if (!query.step()) return std::nullopt;
  return ZedodoToken{query.integer(0), query.text(1), query.integer(2) != 0, query.integer(3), query.integer(4) != 0};
}

void Store::revokeZedodoGrant(std::int64_t grant) {
  std::lock_guard lock(mutex_);
  Statement(db_, "UPDATE zedodo_grants SET revoked = 1 WHERE id = ?", grant).step();
}

std::string Store::dump() {
  std::lock_guard lock(mutex_);
  std::string out;
  Statement accounts(db_,
                     "SELECT a.id, a.email, a.first_name, a.last_name, a.password_hash IS NOT NULL, "
                     "(SELECT group_concat(school) FROM account_schools WHERE account = a.id), "
                     "(SELECT group_concat(provider) FROM (SELECT DISTINCT provider FROM provider_links "
                     "WHERE account = a.id ORDER BY provider)), "
                     "(SELECT count(*) FROM recoveries WHERE account = a.id), "
                     "(SELECT format FROM pictures WHERE account = a.id) FROM accounts a ORDER BY a.id");
  while (accounts.step()) {
    const std::int64_t id = accounts.integer(0);
    out += fmt::format("account {} {} {} password={} schools={} providers={} recoveries={} picture={}\n",
                       accounts.text(1), accounts.text(2), accounts.text(3), accounts.integer(4) ? "yes" : "no",
                       accounts.text(5), accounts.text(6), accounts.integer(7), accounts.text(8));
    for (const auto& r : results(id))
      out += fmt::format("result {} quiz={} score={} max={} grade={} answers={} questions={}\n", accounts.text(1),
                         r.quizId, r.score, r.maxScore, r.result, r.answersScore, r.questionsId);
    for (const auto& [achievement, lecture] : earned(id))
      out += fmt::format("achievement {} {} lecture={}\n", accounts.text(1), achievement, lecture);
  }
  return out;
}
