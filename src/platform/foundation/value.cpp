#include "platform/foundation/value.h"

#include <fmt/format.h>

#include <cmath>
#include <ctime>
#include <nlohmann/json.hpp>

#include "platform/foundation/ns_error.h"

Value::Value(const NSError& e) : v_(std::make_shared<const NSError>(e)) {}

std::optional<bool> Value::asBool() const {
  if (const bool* b = std::get_if<bool>(&v_)) return *b;
  return std::nullopt;
}

std::optional<std::int64_t> Value::asInteger() const {
  if (const std::int64_t* i = std::get_if<std::int64_t>(&v_)) return *i;
  return std::nullopt;
}

std::optional<double> Value::asReal() const {
  if (const double* d = std::get_if<double>(&v_)) return *d;
  if (const std::int64_t* i = std::get_if<std::int64_t>(&v_)) return static_cast<double>(*i);
  return std::nullopt;
}

std::optional<Date> Value::asDate() const {
  if (const Date* d = std::get_if<Date>(&v_)) return *d;
  return std::nullopt;
}

std::shared_ptr<const NSError> Value::asError() const {
  if (const auto* e = std::get_if<std::shared_ptr<const NSError>>(&v_)) return *e;
  return nullptr;
}

const Value* Value::find(const std::string& key) const {
  const Dictionary* d = asDictionary();
  if (!d) return nullptr;
  auto it = d->find(key);
  return it == d->end() ? nullptr : &it->second;
}

bool Value::operator==(const Value& o) const {
  if (v_.index() != o.v_.index()) return false;
  if (isError()) {
    auto a = asError(), b = o.asError();
    if (a == b) return true;
    return a && b && *a == *b;
  }
  return v_ == o.v_;
}

namespace {

std::string describeDate(Date date) {
  double seconds = std::floor(date.timeIntervalSince1970());
  if (!(std::fabs(seconds) < 1e15)) return fmt::format("{}", date.timeIntervalSinceReferenceDate);
  std::time_t t = static_cast<std::time_t>(seconds);
  std::tm tm{};
  if (!gmtime_r(&t, &tm)) return fmt::format("{}", date.timeIntervalSinceReferenceDate);
  return fmt::format("{:04d}-{:02d}-{:02d} {:02d}:{:02d}:{:02d} +0000", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                     tm.tm_hour, tm.tm_min, tm.tm_sec);
}

struct Describer {
  std::string operator()(std::monostate) const { return "(null)"; }
  std::string operator()(bool b) const { return b ? "1" : "0"; }
  std::string operator()(std::int64_t i) const { return fmt::format("{}", i); }
  std::string operator()(double d) const { return fmt::format("{}", d); }
  std::string operator()(const std::string& s) const { return s; }
  std::string operator()(const Data& d) const {
    std::string out = fmt::format("{{length = {}, bytes = 0x", d.size());
    for (std::uint8_t b : d.bytes) out += fmt::format("{:02x}", b);
    return out + "}";
  }
  std::string operator()(Date d) const { return describeDate(d); }
  std::string operator()(const Value::Array& a) const {
    std::string out = "(";
    for (std::size_t i = 0; i < a.size(); ++i) {
      if (i) out += ", ";
      out += a[i].description();
    }
    return out + ")";
  }
  std::string operator()(const Value::Dictionary& d) const {
    std::string out = "{";
    bool first = true;
    for (const auto& [k, v] : d) {  // std::map keeps the keys sorted
      if (!first) out += ", ";
      first = false;
      out += k + "=" + v.description();
    }
    return out + "}";
  }
  std::string operator()(const std::shared_ptr<const NSError>& e) const { return e ? e->description() : "(null)"; }
};

// Files are not trusted to be shallow; past this depth the text is refused.
constexpr int kMaxJsonDepth = 512;

std::optional<Value> fromJson(const nlohmann::json& j, int depth) {
  if (depth > kMaxJsonDepth) return std::nullopt;
  switch (j.type()) {
    case nlohmann::json::value_t::boolean: return Value(j.get<bool>());
    case nlohmann::json::value_t::number_integer: return Value(static_cast<long long>(j.get<std::int64_t>()));
    case nlohmann::json::value_t::number_unsigned: {
      auto u = j.get<std::uint64_t>();
      // Beyond int64 the value cannot stay an integer without wrapping.
      if (u > static_cast<std::uint64_t>(INT64_MAX)) return Value(static_cast<double>(u));
      return Value(static_cast<long long>(u));
    }
    case nlohmann::json::value_t::number_float: return Value(j.get<double>());
    case nlohmann::json::value_t::string: return Value(j.get<std::string>());
    case nlohmann::json::value_t::array: {
      Value::Array a;
      a.reserve(j.size());
      for (const auto& e : j) {
        auto v = fromJson(e, depth + 1);
        if (!v) return std::nullopt;
        a.push_back(std::move(*v));
      }
      return Value(std::move(a));
    }
    case nlohmann::json::value_t::object: {
      Value::Dictionary d;
      for (auto it = j.begin(); it != j.end(); ++it) {
        auto v = fromJson(it.value(), depth + 1);
        if (!v) return std::nullopt;
        d.emplace(it.key(), std::move(*v));
      }
      return Value(std::move(d));
    }
    default: return Value();
  }
}

}  // namespace

std::string Value::description() const { return std::visit(Describer{}, v_); }

std::optional<Value> Value::fromJSON(std::string_view text) {
  auto j = nlohmann::json::parse(text.begin(), text.end(), nullptr, false);
  if (j.is_discarded()) return std::nullopt;
  return fromJson(j, 0);
}
