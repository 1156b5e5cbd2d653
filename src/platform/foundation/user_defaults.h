#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/foundation/value.h"

// Settings of the property-list kinds, kept in one JSON file. Every change is written at once
// (temporary file + rename), so a crash never leaves a half-written file; a file that cannot be
// read reads as empty, an entry that cannot be read as absent. Thread-safe.
class UserDefaults {
 public:
  // The defaults of the application data directory.
  static std::shared_ptr<UserDefaults> standard();

  // $DORVALE_DATA_DIR, else $XDG_DATA_HOME/dorvale, else ~/.local/share/dorvale, unless set below.
  static std::string applicationDataDirectory();
  // Overrides the data directory (nothing restores the default); standard() then starts afresh.
  static void setApplicationDataDirectory(std::optional<std::string> directory);

  // Defaults kept in the file at `filePath`, read now.
  explicit UserDefaults(std::string filePath);

  const std::string& filePath() const { return path_; }

  std::optional<Value> objectForKey(const std::string& key) const;
  // A null value removes the key. Errors are not property-list values and are stored as null.
  void setObject(Value value, const std::string& key);
  void removeObjectForKey(const std::string& key);

  // Typed reads, converting as the platform does: numbers and texts like "YES", "true" or "12"
  // read as booleans and numbers; numbers read as texts. Absent or unconvertible: false / 0 / nothing.
  bool boolForKey(const std::string& key) const;
  std::int64_t integerForKey(const std::string& key) const;
  double doubleForKey(const std::string& key) const;
  std::optional<std::string> stringForKey(const std::string& key) const;
  std::optional<Data> dataForKey(const std::string& key) const;
  std::optional<Value::Array> arrayForKey(const std::string& key) const;
  std::optional<Value::Dictionary> dictionaryForKey(const std::string& key) const;

  // Writes the current values if an earlier write failed; true when the file is up to date.
  bool synchronize();

 private:
  bool writeLocked();

  mutable std::mutex mutex_;
  std::string path_;
  Value::Dictionary values_;
  bool dirty_ = false;
};
