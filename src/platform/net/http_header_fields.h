#pragma once

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// HTTP header fields in the order they were set. Names compare without regard to case; the case a
// name was first set with is kept.
class HTTPHeaderFields {
 public:
  using Field = std::pair<std::string, std::string>;

  HTTPHeaderFields() = default;
  HTTPHeaderFields(std::initializer_list<Field> fields);

  std::optional<std::string> valueForHTTPHeaderField(std::string_view name) const;
  // The same value without a copy; null when there is no such field.
  const std::string* find(std::string_view name) const;
  // Replaces every field of that name; nothing removes it.
  void setValue(std::optional<std::string> value, std::string_view name);
  // Appends to an existing field as "old, value", else adds the field. Returns the field's index.
  std::size_t addValue(std::string_view value, std::string_view name);
  // The value of the field at `index` (in the order of fields()), to change in place.
  std::string& valueAt(std::size_t index) { return fields_[index].second; }
  void reserve(std::size_t count) { fields_.reserve(count); }
  void removeValue(std::string_view name) { setValue(std::nullopt, name); }
  bool contains(std::string_view name) const;

  const std::vector<Field>& fields() const { return fields_; }
  std::vector<Field>::const_iterator begin() const { return fields_.begin(); }
  std::vector<Field>::const_iterator end() const { return fields_.end(); }
  std::size_t size() const { return fields_.size(); }
  bool empty() const { return fields_.empty(); }

  bool operator==(const HTTPHeaderFields&) const = default;

  static bool namesEqual(std::string_view a, std::string_view b);

 private:
  std::vector<Field> fields_;
};
