#pragma once

#include <sqlite3.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "data_dir.h"

struct Account {
  std::int64_t id = 0;
  std::string email;
  std::string firstName;
  std::string lastName;
  bool hasPassword = false;
};

struct QuizResult {
  std::int64_t id = 0;
  std::int64_t accountId = 0;
  std::int64_t quizId = 0;
  double score = 0;
  std::int64_t time = 0;
  std::int64_t result = 0;  // grade 1 to 5
  std::string date;         // "yyyy-MM-dd HH:mm:ss"
  std::string answersScore;
  std::int64_t maxScore = 0;
  std::int64_t mobileId = 0;
  std::string questionsId;
  std::optional<std::int64_t> quizLevelId;
};

struct Picture {
  std::string format;  // lower case: "png", "jpeg"
  std::string bytes;
  std::int64_t version = 0;
};

// A salted PBKDF2-HMAC-SHA256 password hash with its iteration count.
struct PasswordHash {
  std::string salt;
  std::string hash;  // hex
  int iterations = 0;

  // Slow on purpose: call it outside any lock.
  static PasswordHash of(const std::string& password, int iterations);
  bool verifies(const std::string& password) const;
};

struct ProviderLink {
  std::string provider;
  std::string key;
};

// The fake Zedodo's state, its codes and tokens kept as digests; times are Unix seconds.
struct ZedodoCode {
  std::string clientID, redirectURI, challenge;
  std::int64_t grant = 0;
  std::int64_t expires = 0;
  bool used = false;
};

struct ZedodoToken {
  std::int64_t grant = 0;
  std::string clientID;      // the grant's
  bool revoked = false;      // the grant's
  std::int64_t expires = 0;  // access tokens only
  bool used = false;         // refresh tokens only
};

// Everything the sample learns while it runs (accounts, tokens, provider sign-ins, results,
// achievements earned, pictures), in one SQLite file. Thread-safe; each write that a call makes
// is one transaction. Reads of results take one of a few connections of their own and leave the
// others' calls free. Failures of SQLite itself throw std::runtime_error.
class Store {
 public:
  struct Options {
    // The current recommendation for PBKDF2-HMAC-SHA256.
    int passwordIterations = 600000;
    std::chrono::seconds tokenLifetime{30 * 24 * 3600};
  };

  explicit Store(const std::filesystem::path& file) : Store(file, Options()) {}
  Store(const std::filesystem::path& file, const Options& options);
  ~Store();
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;

  // For tests: called at the named steps inside a transaction; what it throws aborts the call.
  std::function<void(std::string_view step)> faultHook;

  const Options& options() const { return options_; }

  std::optional<Account> account(std::int64_t id);
  std::optional<Account> accountByEmail(const std::string& email);  // any letter case
  // The account with its schools, password and provider link; nothing when the e-mail is taken.
  std::optional<std::int64_t> createAccount(const Account& account, const std::optional<PasswordHash>& password,
                                            const std::vector<std::int64_t>& schools,
                                            const std::optional<ProviderLink>& link = std::nullopt);
  std::optional<PasswordHash> password(std::int64_t accountId);
  // Whether the holder changed the password the account was made with; nothing for accounts
  // recorded before that was kept.
  std::optional<bool> passwordChanged(std::int64_t accountId);
  void recordPasswordChanged(std::int64_t accountId, bool changed);
  void setPassword(std::int64_t accountId, const PasswordHash& password);
  // The new password, the end of every token of the account, and a new token for it.
  std::string changePassword(std::int64_t accountId, const PasswordHash& password);
  std::vector<std::int64_t> schools(std::int64_t accountId);

  // A new bearer token for "basic" calls, living options().tokenLifetime.
  std::string issueToken(std::int64_t accountId);
  // "basic" looks among unexpired issued tokens, "facebook" and "zedodo" among linked sign-ins.
  std::optional<std::int64_t> accountForToken(const std::string& provider, const std::string& token);
  void linkProvider(std::int64_t accountId, const std::string& provider, const std::string& token);
  bool hasProvider(std::int64_t accountId, const std::string& provider);

  std::vector<std::int64_t> removedLectures(std::int64_t accountId);
  void setLectureRemoved(std::int64_t accountId, std::int64_t lectureId, bool removed);

  // Stores `results` (their ids are assigned) and the achievements (id, lecture) they earn.
  std::vector<QuizResult> saveResults(std::vector<QuizResult> results,
                                      const std::vector<std::pair<std::int64_t, std::int64_t>>& achievements);
  // Every result of the account, oldest first.
  std::vector<QuizResult> results(std::int64_t accountId);
  // Replaces `batch` with the account's next results after the one with id `afterId`, oldest
  // first, read in one short read: a batch of bounded size, empty past the last. Its room is kept
  // for the next batch.
  void resultsAfter(std::int64_t accountId, std::int64_t afterId, std::vector<QuizResult>& batch);
  // For each of `quizzes` that the account has results of, in that order: the result with the
  // highest share of its points, the latest of equal shares.
  std::vector<QuizResult> bestResults(std::int64_t accountId, const std::vector<std::int64_t>& quizzes);
  std::int64_t resultCount(std::int64_t accountId);

  // The achievement ids earned, each with the lecture of the quiz that earned it.
  std::vector<std::pair<std::int64_t, std::int64_t>> earned(std::int64_t accountId);

  void setPicture(std::int64_t accountId, const std::string& format, const std::string& bytes);
  std::optional<Picture> picture(std::int64_t accountId);

  void recordRecovery(std::int64_t accountId);

  // A new grant with its first code (`record.grant` is ignored); the grant.
  std::int64_t addZedodoGrant(const std::string& code, const ZedodoCode& record);
  // The unexpired code, used from now on; its `used` says whether it was before.
  std::optional<ZedodoCode> useZedodoCode(const std::string& code);
  // An access token living until `expires` and a refresh token for `grant`; the refresh token
  // `spent` (when not empty) is used from now on.
  void issueZedodoTokens(std::int64_t grant, const std::string& accessToken, std::int64_t expires,
                         const std::string& refreshToken, const std::string& spent = "");
  // What is known of an access or refresh token issued, expired or not.
  std::optional<ZedodoToken> zedodoAccessToken(const std::string& token);
  std::optional<ZedodoToken> zedodoRefreshToken(const std::string& token);
  void revokeZedodoGrant(std::int64_t grant);

  // What the sample recorded, one line per fact, in a stable order; for tests and the curious.
  std::string dump();

 private:
  class Statement;
  void exec(const char* sql);
  std::optional<ZedodoToken> zedodoToken(const std::string& kind, const std::string& token);
  void migrate();
  // Runs `body` as one transaction under the lock.
  template <class Body>
  auto transaction(Body body);
  // Runs `body(db)` as one read transaction on a connection that no other call uses meanwhile;
  // waits for one while all are busy.
  template <class Body>
  auto read(Body body);
  sqlite3* takeReader();
  void returnReader(sqlite3* db);
  sqlite3* open();
  void fault(std::string_view step);

  const std::filesystem::path file_;
  // Closed after every connection below.
  const CheckedStore checked_;
  const Options options_;
  std::recursive_mutex mutex_;
  sqlite3* db_ = nullptr;
  // Idle read connections; one more is opened when all are busy, up to a few.
  std::mutex readersMutex_;
  std::condition_variable readerFree_;
  std::vector<sqlite3*> readers_;
  std::size_t openReaders_ = 0;
};
