#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/value.h"

// The application's resource directory: files, the info dictionary and the localized strings
// tables of en.lproj.
class Bundle {
 public:
  using StringsTable = std::map<std::string, std::string>;

  static std::shared_ptr<Bundle> main();
  // $DORVALE_RESOURCES, else the "resources" directory next to the executable, unless set below.
  static std::string mainResourcePath();
  // Overrides the main resource directory (nothing restores the default); main() starts afresh.
  static void setMainResourcePath(std::optional<std::string> path);
  // A table that the main bundle's default strings lookups use instead of the file (nothing: the
  // file again).
  static void setLocalizedStringsForTesting(std::optional<StringsTable> table);

  explicit Bundle(std::string resourcePath);

  const std::string& resourcePath() const { return resourcePath_; }

  // The file "name.type" (or "name" when type is empty) in the resource directory or in
  // en.lproj; nothing when it does not exist.
  std::optional<std::string> pathForResource(std::string_view name, std::string_view type) const;

  // Set by the application shell, else read from Info.json in the resource directory.
  Value::Dictionary infoDictionary() const;
  void setInfoDictionary(Value::Dictionary info);
  std::optional<Value> objectForInfoDictionaryKey(const std::string& key) const;

  // The text of `key` in en.lproj/<table>.strings (table "" means "Localizable"); when the key is
  // missing, `value` unless it is empty, else the key.
  std::string localizedStringForKey(const std::string& key, const std::string& value = "",
                                    const std::string& table = "") const;

  // Reads the strings-file format: "key" = "value"; entries with escapes (\" \\ \n \t \r \U0041),
  // comments and free whitespace; UTF-8, or UTF-16 with a byte-order mark. Text after the first
  // syntax error is ignored.
  static StringsTable parseStringsTable(std::string_view text);

 private:
  const StringsTable& tableLocked(const std::string& name) const;

  mutable std::mutex mutex_;
  std::string resourcePath_;
  bool isMain_ = false;
  mutable std::optional<Value::Dictionary> info_;
  mutable std::map<std::string, StringsTable> tables_;
};

// The main bundle's default-table text for `key`, or the key itself. The comment is for translators.
std::string NSLocalizedString(const std::string& key, std::string_view comment = "");
