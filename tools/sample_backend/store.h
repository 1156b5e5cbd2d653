#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

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

// Everything the sample learns while it runs (accounts, tokens, provider sign-ins, results,
// achievements earned, pictures), in one SQLite file. Not thread-safe: the server calls it under
// one lock. Failures of SQLite itself throw std::runtime_error.
class Store {
 public:
  explicit Store(const std::filesystem::path& file);
  ~Store();
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;

  std::optional<Account> account(std::int64_t id);
  std::optional<Account> accountByEmail(const std::string& email);  // any letter case
  std::int64_t createAccount(const Account& account, const std::optional<std::string>& password,
                             const std::vector<std::int64_t>& schools);
  bool checkPassword(std::int64_t accountId, const std::string& password);
  void setPassword(std::int64_t accountId, const std::string& password);
  std::vector<std::int64_t> schools(std::int64_t accountId);

  // A new bearer token for "basic" calls.
  std::string issueToken(std::int64_t accountId);
  void revokeTokens(std::int64_t accountId);
  // "basic" looks among issued tokens, "facebook" and "zedodo" among linked sign-ins.
  std::optional<std::int64_t> accountForToken(const std::string& provider, const std::string& token);
  void linkProvider(std::int64_t accountId, const std::string& provider, const std::string& token);
  bool hasProvider(std::int64_t accountId, const std::string& provider);

  std::vector<std::int64_t> removedLectures(std::int64_t accountId);
  void setLectureRemoved(std::int64_t accountId, std::int64_t lectureId, bool removed);

  // Stores `result` (its id is assigned) and returns it.
  QuizResult saveResult(QuizResult result);
  std::vector<QuizResult> results(std::int64_t accountId);

  // The achievement ids earned, each with the lecture of the quiz that earned it.
  std::vector<std::pair<std::int64_t, std::int64_t>> earned(std::int64_t accountId);
  void earn(std::int64_t accountId, std::int64_t achievementId, std::int64_t lectureId);

  void setPicture(std::int64_t accountId, const std::string& format, const std::string& bytes);
  std::optional<Picture> picture(std::int64_t accountId);

  void recordRecovery(std::int64_t accountId);

  // What the sample recorded, one line per fact, in a stable order; for tests and the curious.
  std::string dump();

 private:
  class Statement;
  void exec(const char* sql);

  sqlite3* db_ = nullptr;
};
