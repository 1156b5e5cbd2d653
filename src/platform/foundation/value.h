#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/foundation/data.h"
#include "platform/foundation/date.h"

struct NSError;

// One value of the property-list kinds (plus null and an error), used for user info, user
// defaults and property-list data.
class Value {
 public:
  using Array = std::vector<Value>;
  using Dictionary = std::map<std::string, Value>;
  using Storage = std::variant<std::monostate, bool, std::int64_t, double, std::string, Data, Date, Array, Dictionary,
                               std::shared_ptr<const NSError>>;

  Value() = default;
  Value(bool b) : v_(b) {}
  Value(int i) : v_(static_cast<std::int64_t>(i)) {}
  Value(long i) : v_(static_cast<std::int64_t>(i)) {}
  Value(long long i) : v_(static_cast<std::int64_t>(i)) {}
  Value(unsigned i) : v_(static_cast<std::int64_t>(i)) {}
  Value(double d) : v_(d) {}
  Value(const char* s) : v_(std::string(s)) {}
  Value(std::string s) : v_(std::move(s)) {}
  Value(Data d) : v_(std::move(d)) {}
  Value(Date d) : v_(d) {}
  Value(Array a) : v_(std::move(a)) {}
  Value(Dictionary d) : v_(std::move(d)) {}
  Value(std::shared_ptr<const NSError> e) : v_(std::move(e)) {}
  Value(const NSError& e);

  bool isNull() const { return std::holds_alternative<std::monostate>(v_); }
  bool isBool() const { return std::holds_alternative<bool>(v_); }
  bool isInteger() const { return std::holds_alternative<std::int64_t>(v_); }
  bool isReal() const { return std::holds_alternative<double>(v_); }
  bool isNumber() const { return isInteger() || isReal(); }
  bool isString() const { return std::holds_alternative<std::string>(v_); }
  bool isData() const { return std::holds_alternative<Data>(v_); }
  bool isDate() const { return std::holds_alternative<Date>(v_); }
  bool isArray() const { return std::holds_alternative<Array>(v_); }
  bool isDictionary() const { return std::holds_alternative<Dictionary>(v_); }
  bool isError() const { return std::holds_alternative<std::shared_ptr<const NSError>>(v_); }

  // Typed reads: nothing when the kind differs (an integer reads as a real, not the reverse).
  std::optional<bool> asBool() const;
  std::optional<std::int64_t> asInteger() const;
  std::optional<double> asReal() const;
  const std::string* asString() const { return std::get_if<std::string>(&v_); }
  const Data* asData() const { return std::get_if<Data>(&v_); }
  std::optional<Date> asDate() const;
  const Array* asArray() const { return std::get_if<Array>(&v_); }
  const Dictionary* asDictionary() const { return std::get_if<Dictionary>(&v_); }
  std::shared_ptr<const NSError> asError() const;

  // Dictionary member, or nullptr.
  const Value* find(const std::string& key) const;

  const Storage& storage() const { return v_; }
  bool operator==(const Value& o) const;

  // A short human-readable form (for descriptions and logs).
  std::string description() const;

  // JSON text as a value: objects, arrays, strings, booleans, numbers (integers stay integers)
  // and null. Nothing for text that is not JSON.
  static std::optional<Value> fromJSON(std::string_view text);

 private:
  Storage v_;
};
