#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

struct sqlite3;

// The hits waiting for dispatch, oldest first, in an SQLite database that outlives the process.
// Not thread-safe: the analytics queue owns it.
class ZAIHitStore {
 public:
  struct Hit {
    std::int64_t id = 0;
    std::string body;  // the form-encoded request body
  };

  // Opens the database at `path`, creating it and its missing folders private to the owner when
  // needed; nothing when that fails. Its folder, the database and its journals are refused when
  // they are links, another user's, shared or hard-linked; `refused` then names the path and why.
  static std::unique_ptr<ZAIHitStore> open(const std::string& path, std::string* refused = nullptr);
  ~ZAIHitStore();
  ZAIHitStore(const ZAIHitStore&) = delete;
  ZAIHitStore& operator=(const ZAIHitStore&) = delete;

  // Stores a hit; only the newest `keepAtMost` hits are kept, so a collector that stays away for
  // long cannot fill the disk.
  bool add(const std::string& body, std::size_t keepAtMost);
  std::optional<Hit> oldest();
  void remove(std::int64_t id);
  std::size_t count();

  // Small named values kept with the hits (the client id).
  std::optional<std::string> property(const std::string& key);
  void setProperty(const std::string& key, const std::string& value);

 private:
  explicit ZAIHitStore(sqlite3* db) : db_(db) {}
  bool exec(const char* sql);
  sqlite3* db_;
};
