#include "platform/foundation/bundle.h"

#include <sys/stat.h>
#include <unicode/utf16.h>
#include <unicode/utf8.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

std::mutex& mainMutex() {
  static std::mutex m;
  return m;
}
std::optional<std::string>& resourcePathOverride() {
  static std::optional<std::string> path;
  return path;
}
std::shared_ptr<Bundle>& mainInstance() {
  static std::shared_ptr<Bundle> instance;
  return instance;
}
std::optional<Bundle::StringsTable>& testingTable() {
  static std::optional<Bundle::StringsTable> table;
  return table;
}

std::optional<std::string> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  if (in.bad()) return std::nullopt;
  return buffer.str();
}

bool exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

void appendUTF8(std::string& out, UChar32 c) {
  char buf[4];
  int32_t n = 0;
  UBool error = false;
  U8_APPEND(buf, n, 4, c, error);
  if (error) {
    n = 0;
    U8_APPEND_UNSAFE(buf, n, 0xFFFD);
  }
  out.append(buf, static_cast<std::size_t>(n));
}

// Strings files are often UTF-16 with a byte-order mark; everything else is taken as UTF-8.
std::string toUTF8(std::string_view raw) {
  if (raw.substr(0, 3) == "\xEF\xBB\xBF") return std::string(raw.substr(3));
  bool little = raw.substr(0, 2) == "\xFF\xFE", big = raw.substr(0, 2) == "\xFE\xFF";
  if (!little && !big) return std::string(raw);
  std::u16string units;
  for (std::size_t i = 2; i + 1 < raw.size(); i += 2) {
    auto lo = static_cast<unsigned char>(raw[little ? i : i + 1]);
    auto hi = static_cast<unsigned char>(raw[little ? i + 1 : i]);
    units.push_back(static_cast<char16_t>(hi << 8 | lo));
  }
  std::string out;
  for (std::size_t i = 0; i < units.size();) {
    UChar32 c;
    U16_NEXT(units.data(), i, units.size(), c);
    appendUTF8(out, U_IS_SURROGATE(c) ? 0xFFFD : c);
  }
  return out;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool isUnquotedChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '$' ||
         c == '+' || c == '/' || c == ':' || c == '.' || c == '-';
}

class StringsParser {
 public:
  explicit StringsParser(std::string_view text) : s_(text) {}

  Bundle::StringsTable parse() {
    Bundle::StringsTable table;
    while (skipBlanks() && i_ < s_.size()) {
      auto key = token();
      if (!key || !skipBlanks() || i_ >= s_.size()) break;
      std::optional<std::string> value;
      if (s_[i_] == '=') {
        ++i_;
        if (!skipBlanks()) break;
        value = token();
        if (!value || !skipBlanks() || i_ >= s_.size()) break;
      } else {
        value = key;  // "key"; alone maps the key to itself
      }
      if (s_[i_] != ';') break;
      ++i_;
      table[*key] = std::move(*value);
    }
    return table;
  }

 private:
  // Skips whitespace and comments; false for an unterminated block comment.
  bool skipBlanks() {
    while (i_ < s_.size()) {
      char c = s_[i_];
      if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v') {
        ++i_;
      } else if (s_.substr(i_, 2) == "/*") {
        std::size_t end = s_.find("*/", i_ + 2);
        if (end == std::string_view::npos) return false;
        i_ = end + 2;
      } else if (s_.substr(i_, 2) == "//") {
        std::size_t end = s_.find('\n', i_);
        i_ = end == std::string_view::npos ? s_.size() : end + 1;
      } else {
        return true;
      }
    }
    return true;
  }

  std::optional<std::string> token() {
    if (i_ >= s_.size()) return std::nullopt;
    if (s_[i_] != '"') {
      std::size_t start = i_;
      while (i_ < s_.size() && isUnquotedChar(s_[i_])) ++i_;
      if (i_ == start) return std::nullopt;
      return std::string(s_.substr(start, i_ - start));
    }
    ++i_;
    std::string out;
    while (i_ < s_.size()) {
      char c = s_[i_++];
      if (c == '"') return out;
      if (c != '\\') {
        out += c;
        continue;
      }
      if (i_ >= s_.size()) return std::nullopt;
      char e = s_[i_++];
      switch (e) {
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case 'r': out += '\r'; break;
        case 'a': out += '\a'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'v': out += '\v'; break;
        case 'U':
        case 'u': {
          auto unit = hex4();
          if (!unit) return std::nullopt;
          UChar32 c32 = *unit;
          if (U16_IS_LEAD(*unit) && s_.substr(i_, 2).size() == 2 && s_[i_] == '\\' &&
              (s_[i_ + 1] == 'U' || s_[i_ + 1] == 'u')) {
            std::size_t save = i_;
            i_ += 2;
            auto trail = hex4();
            if (trail && U16_IS_TRAIL(*trail)) c32 = U16_GET_SUPPLEMENTARY(*unit, *trail);
            else i_ = save;
          }
          appendUTF8(out, U_IS_SURROGATE(c32) ? 0xFFFD : c32);
          break;
        }
        default:
          if (e >= '0' && e <= '7') {
            int value = e - '0';
            for (int k = 0; k < 2 && i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '7'; ++k)
              value = value * 8 + (s_[i_++] - '0');
            appendUTF8(out, value);
          } else {
            out += e;  // \" \\ \' and any other character stand for themselves
          }
      }
    }
    return std::nullopt;  // unterminated text
  }

  std::optional<int> hex4() {
    if (i_ + 4 > s_.size()) return std::nullopt;
    int value = 0;
    for (int k = 0; k < 4; ++k) {
      int h = hexValue(s_[i_ + static_cast<std::size_t>(k)]);
      if (h < 0) return std::nullopt;
      value = value * 16 + h;
    }
    i_ += 4;
    return value;
  }

  std::string_view s_;
  std::size_t i_ = 0;
};

std::string executableDirectory() {
  std::string buf(PATH_MAX, '\0');
  ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
  if (n <= 0) return ".";
  buf.resize(static_cast<std::size_t>(n));
  std::size_t slash = buf.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : buf.substr(0, slash);
}

// The caller holds mainMutex().
std::string mainResourcePathLocked() {
  if (resourcePathOverride()) return *resourcePathOverride();
  const char* env = std::getenv("DORVALE_RESOURCES");
  if (env && *env) return env;
  return executableDirectory() + "/resources";
}

}  // namespace

std::string Bundle::mainResourcePath() {
  std::lock_guard lock(mainMutex());
  return mainResourcePathLocked();
}

void Bundle::setMainResourcePath(std::optional<std::string> path) {
  std::lock_guard lock(mainMutex());
  resourcePathOverride() = std::move(path);
  mainInstance().reset();
}

void Bundle::setLocalizedStringsForTesting(std::optional<StringsTable> table) {
  std::lock_guard lock(mainMutex());
  testingTable() = std::move(table);
}

std::shared_ptr<Bundle> Bundle::main() {
  // One lock for the path and the instance, so a concurrent path change cannot leave a bundle of
  // the old path behind.
  std::lock_guard lock(mainMutex());
  auto& instance = mainInstance();
  if (!instance) {
    instance = std::make_shared<Bundle>(mainResourcePathLocked());
    instance->isMain_ = true;
  }
  return instance;
}

Bundle::Bundle(std::string resourcePath) : resourcePath_(std::move(resourcePath)) {}

std::optional<std::string> Bundle::pathForResource(std::string_view name, std::string_view type) const {
  if (!type.empty() && type[0] == '.') type.remove_prefix(1);
  std::string file(name);
  if (!type.empty()) file += "." + std::string(type);
  if (file.empty()) return std::nullopt;
  for (const std::string& candidate : {resourcePath_ + "/" + file, resourcePath_ + "/en.lproj/" + file}) {
    if (exists(candidate)) return candidate;
  }
  return std::nullopt;
}

Value::Dictionary Bundle::infoDictionary() const {
  std::lock_guard lock(mutex_);
  if (!info_) {
    info_.emplace();
    if (auto text = readFile(resourcePath_ + "/Info.json")) {
      auto value = Value::fromJSON(*text);
      if (value && value->isDictionary()) info_ = *value->asDictionary();
    }
  }
  return *info_;
}

void Bundle::setInfoDictionary(Value::Dictionary info) {
  std::lock_guard lock(mutex_);
  info_ = std::move(info);
}

std::optional<Value> Bundle::objectForInfoDictionaryKey(const std::string& key) const {
  Value::Dictionary info = infoDictionary();
  auto it = info.find(key);
  if (it == info.end()) return std::nullopt;
  return it->second;
}

const Bundle::StringsTable& Bundle::tableLocked(const std::string& name) const {
  auto it = tables_.find(name);
  if (it != tables_.end()) return it->second;
  StringsTable table;
  if (auto raw = readFile(resourcePath_ + "/en.lproj/" + name + ".strings")) table = parseStringsTable(*raw);
  return tables_.emplace(name, std::move(table)).first->second;
}

std::string Bundle::localizedStringForKey(const std::string& key, const std::string& value,
                                          const std::string& table) const {
  std::string name = table.empty() ? "Localizable" : table;
  std::optional<std::string> found;
  bool useTestingTable = false;
  if (isMain_ && name == "Localizable") {
    std::lock_guard lock(mainMutex());
    if (testingTable()) {
      useTestingTable = true;
      auto it = testingTable()->find(key);
      if (it != testingTable()->end()) found = it->second;
    }
  }
  if (!useTestingTable) {
    std::lock_guard lock(mutex_);
    const StringsTable& strings = tableLocked(name);
    auto it = strings.find(key);
    if (it != strings.end()) found = it->second;
  }
  if (found) return *found;
  return value.empty() ? key : value;
}

Bundle::StringsTable Bundle::parseStringsTable(std::string_view text) {
  std::string utf8 = toUTF8(text);
  return StringsParser(utf8).parse();
}

std::string NSLocalizedString(const std::string& key, std::string_view /*comment*/) {
  return Bundle::main()->localizedStringForKey(key);
}
