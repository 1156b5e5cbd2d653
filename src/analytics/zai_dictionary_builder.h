#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>

// Builds the fields of one hit.
class ZAIDictionaryBuilder {
 public:
  using Dictionary = std::map<std::string, std::string>;

  // A builder whose hit type ("&t") is "screenview".
  static std::shared_ptr<ZAIDictionaryBuilder> createScreenView();

  // An absent value removes the field.
  void set(std::optional<std::string> value, const std::string& key);
  std::optional<std::string> get(const std::string& key) const;

  Dictionary build() const { return fields_; }

 private:
  Dictionary fields_;
};
