#include "platform/foundation/user_defaults.h"

#include "platform/foundation/text.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

using json = nlohmann::json;

namespace {

constexpr const char* kTypeKey = "$type";
constexpr int kMaxDepth = 512;
constexpr std::size_t kMaxFileSize = 64u << 20;

std::string base64Encode(const std::uint8_t* p, std::size_t n) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((n + 2) / 3 * 4);
  for (std::size_t i = 0; i < n; i += 3) {
    std::uint32_t chunk = static_cast<std::uint32_t>(p[i]) << 16;
    if (i + 1 < n) chunk |= static_cast<std::uint32_t>(p[i + 1]) << 8;
    if (i + 2 < n) chunk |= p[i + 2];
    out += kAlphabet[(chunk >> 18) & 63];
    out += kAlphabet[(chunk >> 12) & 63];
    out += i + 1 < n ? kAlphabet[(chunk >> 6) & 63] : '=';
    out += i + 2 < n ? kAlphabet[chunk & 63] : '=';
  }
  return out;
}

std::optional<std::vector<std::uint8_t>> base64Decode(std::string_view s) {
  if (s.size() % 4 != 0) return std::nullopt;
  auto sextet = [](char c) -> int {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
  };
  std::vector<std::uint8_t> out;
  out.reserve(s.size() / 4 * 3);
  for (std::size_t i = 0; i < s.size(); i += 4) {
    bool last = i + 4 == s.size();
    int pad = (s[i + 3] == '=') + (s[i + 2] == '=' && s[i + 3] == '=');
    if (pad && !last) return std::nullopt;
    std::uint32_t chunk = 0;
    for (int k = 0; k < 4 - pad; ++k) {
      int v = sextet(s[i + static_cast<std::size_t>(k)]);
      if (v < 0) return std::nullopt;
      chunk |= static_cast<std::uint32_t>(v) << (18 - 6 * k);
    }
    out.push_back(static_cast<std::uint8_t>(chunk >> 16));
    if (pad < 2) out.push_back(static_cast<std::uint8_t>(chunk >> 8));
    if (pad < 1) out.push_back(static_cast<std::uint8_t>(chunk));
  }
  return out;
}

json tagged(const char* type, json value) { return json{{kTypeKey, type}, {"value", std::move(value)}}; }

// JSON holds booleans, integers, finite reals, UTF-8 texts, arrays and objects as they are; every
// other value (data, dates, non-finite reals, texts that are not UTF-8, and objects whose keys
// would be ambiguous or not UTF-8) becomes an object tagged with "$type".
json encode(const Value& v) {
  struct Visitor {
    json operator()(std::monostate) const { return nullptr; }
    json operator()(bool b) const { return b; }
    json operator()(std::int64_t i) const { return i; }
    json operator()(double d) const {
      if (std::isfinite(d)) return d;
      return tagged("real", std::isnan(d) ? "nan" : d > 0 ? "inf" : "-inf");
    }
    json operator()(const std::string& s) const {
      if (isValidUTF8(s)) return s;
      return tagged("string", base64Encode(reinterpret_cast<const std::uint8_t*>(s.data()), s.size()));
    }
    json operator()(const Data& d) const { return tagged("data", base64Encode(d.data(), d.size())); }
    json operator()(Date d) const { return tagged("date", (*this)(d.timeIntervalSinceReferenceDate)); }
    json operator()(const Value::Array& a) const {
      json out = json::array();
      for (const Value& e : a) out.push_back(encode(e));
      return out;
    }
    json operator()(const Value::Dictionary& d) const {
      bool plain = d.find(kTypeKey) == d.end();
      for (auto it = d.begin(); plain && it != d.end(); ++it) plain = isValidUTF8(it->first);
      if (plain) {
        json out = json::object();
        for (const auto& [k, e] : d) out[k] = encode(e);
        return out;
      }
      json pairs = json::array();
      for (const auto& [k, e] : d) pairs.push_back(json::array({encode(Value(k)), encode(e)}));
      return tagged("dictionary", std::move(pairs));
    }
    json operator()(const std::shared_ptr<const NSError>&) const { return nullptr; }
  };
  return std::visit(Visitor{}, v.storage());
}

std::optional<Value> decode(const json& j, int depth);

std::optional<Value> decodeTagged(const std::string& type, const json& value, int depth) {
  if (type == "data" || type == "string") {
    if (!value.is_string()) return std::nullopt;
    auto bytes = base64Decode(value.get_ref<const std::string&>());
    if (!bytes) return std::nullopt;
    if (type == "data") return Value(Data(std::move(*bytes)));
    return Value(std::string(bytes->begin(), bytes->end()));
  }
  if (type == "date") {
    auto seconds = decode(value, depth + 1);
    if (!seconds || !seconds->asReal()) return std::nullopt;
    return Value(Date{*seconds->asReal()});
  }
  if (type == "real") {
    if (value == "nan") return Value(std::nan(""));
    if (value == "inf") return Value(HUGE_VAL);
    if (value == "-inf") return Value(-HUGE_VAL);
    return std::nullopt;
  }
  if (type == "dictionary") {
    if (!value.is_array()) return std::nullopt;
    Value::Dictionary d;
    for (const json& pair : value) {
      if (!pair.is_array() || pair.size() != 2) return std::nullopt;
      auto key = decode(pair[0], depth + 1);
      auto element = decode(pair[1], depth + 1);
      if (!key || !key->isString() || !element) return std::nullopt;
      d[*key->asString()] = std::move(*element);
    }
    return Value(std::move(d));
  }
  return std::nullopt;
}

std::optional<Value> decode(const json& j, int depth) {
  if (depth > kMaxDepth) return std::nullopt;
  switch (j.type()) {
    case json::value_t::null: return Value();
    case json::value_t::boolean: return Value(j.get<bool>());
    case json::value_t::number_integer: return Value(static_cast<long long>(j.get<std::int64_t>()));
    case json::value_t::number_unsigned: {
      auto u = j.get<std::uint64_t>();
      if (u > static_cast<std::uint64_t>(INT64_MAX)) return Value(static_cast<double>(u));
      return Value(static_cast<long long>(u));
    }
    case json::value_t::number_float: return Value(j.get<double>());
    case json::value_t::string: return Value(j.get<std::string>());
    case json::value_t::array: {
      Value::Array a;
      for (const json& e : j) {
        auto v = decode(e, depth + 1);
        if (!v) return std::nullopt;
        a.push_back(std::move(*v));
      }
      return Value(std::move(a));
    }
    case json::value_t::object: {
      auto type = j.find(kTypeKey);
      if (type != j.end()) {
        auto value = j.find("value");
        if (!type->is_string() || value == j.end() || j.size() != 2) return std::nullopt;
        return decodeTagged(type->get<std::string>(), *value, depth);
      }
      Value::Dictionary d;
      for (auto it = j.begin(); it != j.end(); ++it) {
        auto v = decode(it.value(), depth + 1);
        if (!v) return std::nullopt;
        d.emplace(it.key(), std::move(*v));
      }
      return Value(std::move(d));
    }
    default: return std::nullopt;
  }
}

Value::Dictionary readFile(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || static_cast<std::uint64_t>(st.st_size) > kMaxFileSize)
    return {};
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::ostringstream buffer;
  buffer << in.rdbuf();
  std::string text = buffer.str();
  if (text.size() > kMaxFileSize) return {};
  json j = json::parse(text, nullptr, false);
  if (j.is_discarded()) return {};
  if (j.is_object() && !j.contains(kTypeKey)) {
    // Entry by entry: one unreadable value costs itself, not every setting with it (the next
    // write would make that loss permanent).
    Value::Dictionary values;
    for (auto it = j.begin(); it != j.end(); ++it) {
      if (auto v = decode(it.value(), 1)) values.emplace(it.key(), std::move(*v));
    }
    return values;
  }
  auto v = decode(j, 0);
  if (!v || !v->isDictionary()) return {};
  return *v->asDictionary();
}

// Creates the directory and its missing parents (mode 0700 for the new ones).
bool makeDirectories(const std::string& dir) {
  for (std::size_t pos = 1; pos <= dir.size(); ++pos) {
    if (pos != dir.size() && dir[pos] != '/') continue;
    std::string prefix = dir.substr(0, pos);
    if (::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  struct stat st {};
  return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool writeAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool writeFileAtomically(const std::string& path, const std::string& text) {
  std::size_t slash = path.rfind('/');
  std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  if (!makeDirectories(dir)) return false;
  std::string temp = path + ".tmp-XXXXXX";
  int fd = ::mkstemp(temp.data());
  if (fd < 0) return false;
  bool ok = writeAll(fd, text) && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  if (ok && ::rename(temp.c_str(), path.c_str()) == 0) {
    int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY);
    if (dfd >= 0) {
      ::fsync(dfd);
      ::close(dfd);
    }
    return true;
  }
  ::unlink(temp.c_str());
  return false;
}

std::string envValue(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

std::string homeDirectory() {
  std::string home = envValue("HOME");
  if (!home.empty()) return home;
  struct passwd pw {};
  struct passwd* result = nullptr;
  std::vector<char> buffer(16384);
  if (getpwuid_r(getuid(), &pw, buffer.data(), buffer.size(), &result) == 0 && result && result->pw_dir)
    return result->pw_dir;
  return {};
}

std::optional<std::int64_t> leadingInteger(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\n')) s.remove_prefix(1);
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  std::int64_t value = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (ec == std::errc::result_out_of_range) {
    return !s.empty() && s.front() == '-' ? INT64_MIN : INT64_MAX;
  }
  if (ec != std::errc()) return std::nullopt;
  return value;
}

std::optional<double> leadingReal(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\n')) s.remove_prefix(1);
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  double value = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (ec != std::errc()) return std::nullopt;
  return value;
}

std::int64_t clampToInteger(double d) {
  if (std::isnan(d)) return 0;
  if (d >= 9223372036854775807.0) return INT64_MAX;
  if (d <= -9223372036854775808.0) return INT64_MIN;
  return static_cast<std::int64_t>(d);
}

std::mutex& standardMutex() {
  static std::mutex m;
  return m;
}
std::optional<std::string>& directoryOverride() {
  static std::optional<std::string> dir;
  return dir;
}
std::shared_ptr<UserDefaults>& standardInstance() {
  static std::shared_ptr<UserDefaults> instance;
  return instance;
}

// The caller holds standardMutex().
std::string dataDirectoryLocked() {
  if (directoryOverride()) return *directoryOverride();
  std::string dir = envValue("DORVALE_DATA_DIR");
  if (!dir.empty()) return dir;
  std::string xdg = envValue("XDG_DATA_HOME");
  if (!xdg.empty() && xdg[0] == '/') return xdg + "/dorvale";
  std::string home = homeDirectory();
  if (!home.empty()) return home + "/.local/share/dorvale";
  return "/tmp/dorvale-" + std::to_string(getuid());
}

}  // namespace

std::string UserDefaults::applicationDataDirectory() {
  std::lock_guard lock(standardMutex());
  return dataDirectoryLocked();
}

void UserDefaults::setApplicationDataDirectory(std::optional<std::string> directory) {
  std::lock_guard lock(standardMutex());
  directoryOverride() = std::move(directory);
  standardInstance().reset();
}

std::shared_ptr<UserDefaults> UserDefaults::standard() {
  // One lock for the directory and the instance, so a concurrent directory change cannot leave an
  // instance of the old directory behind.
  std::lock_guard lock(standardMutex());
  auto& instance = standardInstance();
  if (!instance) instance = std::make_shared<UserDefaults>(dataDirectoryLocked() + "/user_defaults.json");
  return instance;
}

UserDefaults::UserDefaults(std::string filePath) : path_(std::move(filePath)), values_(readFile(path_)) {}

std::optional<Value> UserDefaults::objectForKey(const std::string& key) const {
  std::lock_guard lock(mutex_);
  auto it = values_.find(key);
  if (it == values_.end()) return std::nullopt;
  return it->second;
}

void UserDefaults::setObject(Value value, const std::string& key) {
  if (value.isNull()) return removeObjectForKey(key);
  std::lock_guard lock(mutex_);
  values_[key] = std::move(value);
  dirty_ = true;
  writeLocked();
}

void UserDefaults::removeObjectForKey(const std::string& key) {
  std::lock_guard lock(mutex_);
  if (values_.erase(key) == 0) return;
  dirty_ = true;
  writeLocked();
}

bool UserDefaults::synchronize() {
  std::lock_guard lock(mutex_);
  return !dirty_ || writeLocked();
}

bool UserDefaults::writeLocked() {
  std::string text = encode(Value(values_)).dump();
  if (!writeFileAtomically(path_, text)) return false;
  dirty_ = false;
  return true;
}

bool UserDefaults::boolForKey(const std::string& key) const {
  auto v = objectForKey(key);
  if (!v) return false;
  if (auto b = v->asBool()) return *b;
  if (auto d = v->asReal()) return *d != 0;
  if (const std::string* s = v->asString()) {
    std::string lower;
    for (char c : *s) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower == "yes" || lower == "true") return true;
    auto i = leadingInteger(*s);
    return i && *i != 0;
  }
  return false;
}

std::int64_t UserDefaults::integerForKey(const std::string& key) const {
  auto v = objectForKey(key);
  if (!v) return 0;
  if (auto i = v->asInteger()) return *i;
  if (auto d = v->asReal()) return clampToInteger(*d);
  if (auto b = v->asBool()) return *b ? 1 : 0;
  if (const std::string* s = v->asString()) return leadingInteger(*s).value_or(0);
  return 0;
}

double UserDefaults::doubleForKey(const std::string& key) const {
  auto v = objectForKey(key);
  if (!v) return 0;
  if (auto d = v->asReal()) return *d;
  if (auto b = v->asBool()) return *b ? 1 : 0;
  if (const std::string* s = v->asString()) return leadingReal(*s).value_or(0);
  return 0;
}

std::optional<std::string> UserDefaults::stringForKey(const std::string& key) const {
  auto v = objectForKey(key);
  if (!v) return std::nullopt;
  if (const std::string* s = v->asString()) return *s;
  if (v->isNumber() || v->isBool()) return v->description();
  return std::nullopt;
}

std::optional<Data> UserDefaults::dataForKey(const std::string& key) const {
  auto v = objectForKey(key);
  if (!v || !v->isData()) return std::nullopt;
  return *v->asData();
}

std::optional<Value::Array> UserDefaults::arrayForKey(const std::string& key) const {
  auto v = objectForKey(key);
  if (!v || !v->isArray()) return std::nullopt;
  return *v->asArray();
}

std::optional<Value::Dictionary> UserDefaults::dictionaryForKey(const std::string& key) const {
  auto v = objectForKey(key);
  if (!v || !v->isDictionary()) return std::nullopt;
  return *v->asDictionary();
}
