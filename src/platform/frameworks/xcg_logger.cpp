#include "platform/frameworks/xcg_logger.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <exception>

#include "platform/foundation/date.h"
#include "platform/foundation/file_kind.h"

struct XCGLogger::Config {
  LogLevel outputLevel = LogLevel::Debug;
  bool showLogIdentifier = false;
  bool showFunctionName = true;
  bool showThreadName = false;
  bool showLogLevel = true;
  bool showFileNames = true;
  bool showLineNumbers = true;
  bool showDate = true;
  std::shared_ptr<std::FILE> file;
  LogLevel fileLevel = LogLevel::Debug;
};

namespace {

constexpr const char* kIdentifier = "dorvale";

bool passes(XCGLogger::LogLevel level, XCGLogger::LogLevel threshold) {
  return level != XCGLogger::LogLevel::None && threshold != XCGLogger::LogLevel::None && level >= threshold;
}

const char* levelName(XCGLogger::LogLevel level) {
  switch (level) {
    case XCGLogger::LogLevel::Verbose: return "Verbose";
    case XCGLogger::LogLevel::Debug: return "Debug";
    case XCGLogger::LogLevel::Info: return "Info";
    case XCGLogger::LogLevel::Warning: return "Warning";
    case XCGLogger::LogLevel::Error: return "Error";
    case XCGLogger::LogLevel::Severe: return "Severe";
    case XCGLogger::LogLevel::None: break;
  }
  return "None";
}

std::string dateText() {
  // Whole milliseconds first, so .123 is not written as .122.
  auto totalMillis = static_cast<long long>(std::floor(Date::now().timeIntervalSince1970() * 1000.0 + 0.5));
  auto t = static_cast<std::time_t>(totalMillis >= 0 ? totalMillis / 1000 : (totalMillis - 999) / 1000);
  auto millis = static_cast<int>(totalMillis - static_cast<long long>(t) * 1000);
  std::tm local{};
  ::localtime_r(&t, &local);
  char buf[64];
  std::size_t n = std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &local);
  std::snprintf(buf + n, sizeof buf - n, ".%03d", millis);
  return buf;
}

std::string threadName() {
  auto tid = static_cast<long>(::syscall(SYS_gettid));
  if (tid == static_cast<long>(::getpid())) return "main";
  char name[16] = {};
  // Unnamed threads carry the program's name; those are told apart by their id.
  if (::pthread_getname_np(::pthread_self(), name, sizeof name) == 0 && name[0] != '\0' &&
      std::string_view(name) != std::string_view(program_invocation_short_name).substr(0, 15))
    return name;
  return "thread-" + std::to_string(tid);
}

std::string_view lastPathComponent(std::string_view path) {
  auto slash = path.find_last_of('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// The length of the well-formed UTF-8 sequence at the start of `s` (its first byte >= 0x80) and
// its code point; 0 when it is not one (overlong forms and surrogates included).
std::size_t decodeUTF8(std::string_view s, char32_t& point) {
  const auto byte = [&s](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char lead = byte(0);
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // the bounds of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, point = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, point = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, point = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (s.size() < length || byte(1) < low || byte(1) > high) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    point = (point << 6) | (byte(i) & 0x3F);
  }
  return length;
}

// What a terminal would act on (controls, C1 included) or use to reorder the line it shows.
bool mustEscape(char32_t point) {
  return (point < 0x20 && point != '\n' && point != '\t') || (point >= 0x7F && point <= 0x9F) ||
         (point >= 0x202A && point <= 0x202E) || (point >= 0x2066 && point <= 0x2069);
}

// Logged text comes from servers and users: it reaches the terminal with those written as
// \uXXXX, and bytes that are not UTF-8 as \xHH (some terminals read a lone 0x9B as a control).
std::string escapedForTerminal(std::string text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80 || mustEscape(c)) break;
    ++i;
  }
  if (i == text.size()) return text;  // the common case: nothing to copy
  std::string out(text, 0, i);
  out.reserve(text.size() + 16);
  char code[16];  // room for any unsigned in hex, so the compiler sees no truncation
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    char32_t point = c;
    std::size_t length = c < 0x80 ? 1 : decodeUTF8(std::string_view(text).substr(i), point);
    if (length == 0) {
      std::snprintf(code, sizeof code, "\\x%02X", c);
      out += code;
      ++i;
    } else if (mustEscape(point)) {
      std::snprintf(code, sizeof code, "\\u%04X", static_cast<unsigned>(point));
      out += code;
      i += length;
    } else {
      out.append(text, i, length);
      i += length;
    }
  }
  return out;
}

}  // namespace

XCGLogger::XCGLogger() : config_(std::make_shared<Config>()) {}

XCGLogger& XCGLogger::defaultInstance() {
  // Never destroyed: threads may still log while the process exits.
  static auto* instance = new XCGLogger();
  return *instance;
}

void XCGLogger::setup(LogLevel level, bool showLogIdentifier, bool showFunctionName, bool showThreadName,
                      bool showLogLevel, bool showFileNames, bool showLineNumbers, bool showDate,
                      std::optional<std::string> writeToFile, LogLevel fileLogLevel) {
  auto config = std::make_shared<Config>();
  config->outputLevel = level;
  config->showLogIdentifier = showLogIdentifier;
  config->showFunctionName = showFunctionName;
  config->showThreadName = showThreadName;
  config->showLogLevel = showLogLevel;
  config->showFileNames = showFileNames;
  config->showLineNumbers = showLineNumbers;
  config->showDate = showDate;
  config->fileLevel = fileLogLevel;
  if (writeToFile) {
    if (std::FILE* f = std::fopen(writeToFile->c_str(), "ae")) {
      config->file.reset(f, [](std::FILE* file) { std::fclose(file); });
    } else {
      std::fprintf(stderr, "XCGLogger: cannot open log file %s: %s\n", writeToFile->c_str(), std::strerror(errno));
    }
  }
  std::lock_guard lock(mutex_);
  config_ = std::move(config);
}

XCGLogger::LogLevel XCGLogger::outputLogLevel() const {
  std::lock_guard lock(mutex_);
  return config_->outputLevel;
}

bool XCGLogger::isEnabledFor(LogLevel level) const {
  std::lock_guard lock(mutex_);
  return passes(level, config_->outputLevel) || (config_->file && passes(level, config_->fileLevel));
}

void XCGLogger::log(LogLevel level, const std::function<std::string()>& text, std::string_view functionName,
                    std::string_view fileName, int lineNumber) {
  std::shared_ptr<Config> config;
  Sink sink;
  std::shared_ptr<std::FILE> console;
  {
    std::lock_guard lock(mutex_);
    config = config_;
    sink = sink_;
    console = console_;
  }
  const bool toOutput = passes(level, config->outputLevel);
  const bool toFile = config->file && passes(level, config->fileLevel);
  if (!toOutput && !toFile) return;

  // Built with no lock held: the builder may log or reconfigure the logger itself. A builder that
  // throws (a JSON dump of bad UTF-8, say) costs its line, never the caller's request.
  std::string message;
  try {
    if (text) message = text();
  } catch (const std::exception& e) {
    message = std::string("<log text failed: ") + e.what() + ">";
  } catch (...) {
    message = "<log text failed>";
  }

  message = escapedForTerminal(std::move(message));

  std::string prefix;
  auto field = [&prefix](std::string_view part) {
    if (!prefix.empty()) prefix += ' ';
    prefix += part;
  };
  if (config->showDate) field(dateText());
  if (config->showLogIdentifier) field(std::string("[") + kIdentifier + "]");
  if (config->showLogLevel) field(std::string("[") + levelName(level) + "]");
  if (config->showThreadName) field("[" + threadName() + "]");
  std::string location;
  if (config->showFileNames && !fileName.empty()) location = lastPathComponent(fileName);
  if (config->showLineNumbers && lineNumber > 0) {
    if (!location.empty()) location += ':';
    location += std::to_string(lineNumber);
  }
  if (!location.empty()) field("[" + location + "]");
  if (config->showFunctionName && !functionName.empty()) field(functionName);
  prefix = escapedForTerminal(std::move(prefix));
  // Made once for every destination: a message can be a whole reply body.
  std::string out;
  out.reserve(prefix.size() + 3 + message.size() + 1);
  if (!prefix.empty()) out.append(prefix).append(" > ");
  out.append(message).push_back('\n');

  if (toOutput) {
    if (sink) {
      sink(level, out.substr(0, out.size() - 1), message);
    } else {
      // One write per line keeps lines from different threads whole.
      std::fwrite(out.data(), 1, out.size(), console ? console.get() : stderr);
      if (console) std::fflush(console.get());
    }
  }
  if (toFile) {
    std::fwrite(out.data(), 1, out.size(), config->file.get());
    std::fflush(config->file.get());
  }
}

namespace {

// The log file at `path`, emptied, when it is a regular file of ours or was not there; else -1
// and `why`. Never follows a link (whose target would be emptied) nor waits for a reader of a
// named pipe; the file is emptied only once it is known to be ours. Every write goes to the end:
// another run on the same directory may empty the file, and a write at our old offset would
// then leave a hole of NUL bytes before it.
int openLogFile(const std::string& path, std::string& why) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
  if (fd < 0) {
    const int error = errno;
    struct stat link {};
    why = ::lstat(path.c_str(), &link) == 0 && !S_ISREG(link.st_mode) ? "it is " + fileKindText(link.st_mode)
                                                                      : std::strerror(error);
    return -1;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    why = std::strerror(errno);
  } else if (!S_ISREG(st.st_mode)) {
    why = "it is " + fileKindText(st.st_mode);
  } else if (st.st_uid != ::geteuid()) {
    why = "it belongs to another user";
  } else if (st.st_nlink > 1) {
    why = "it has other names (hard links) that emptying it would empty too";
  } else {
    // An existing file keeps its mode through open(): tighten it, as the log holds profile data.
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0 && ::fchmod(fd, 0600) == 0 &&
        ::ftruncate(fd, 0) == 0)
      return fd;
    why = std::strerror(errno);
  }
  ::close(fd);
  return -1;
}

}  // namespace

bool XCGLogger::setConsoleFile(const std::optional<std::string>& path, std::string* why) {
  std::shared_ptr<std::FILE> file;
  if (path) {
    std::string reason;
    const int fd = openLogFile(*path, reason);
    std::FILE* stream = fd >= 0 ? ::fdopen(fd, "a") : nullptr;
    if (!stream) {
      if (fd >= 0) {
        reason = std::strerror(errno);
        ::close(fd);
      }
      if (why) *why = std::move(reason);
      return false;
    }
    file.reset(stream, [](std::FILE* f) { std::fclose(f); });
  }
  std::lock_guard lock(mutex_);
  console_ = std::move(file);
  return true;
}

void XCGLogger::setSink(Sink sink) {
  std::lock_guard lock(mutex_);
  sink_ = std::move(sink);
}

void XCGLogger::verbose(const std::function<std::string()>& text, std::string_view functionName,
                        std::string_view fileName, int lineNumber) {
  defaultInstance().log(LogLevel::Verbose, text, functionName, fileName, lineNumber);
}

void XCGLogger::debug(const std::function<std::string()>& text, std::string_view functionName,
                      std::string_view fileName, int lineNumber) {
  defaultInstance().log(LogLevel::Debug, text, functionName, fileName, lineNumber);
}

void XCGLogger::info(const std::function<std::string()>& text, std::string_view functionName, std::string_view fileName,
                     int lineNumber) {
  defaultInstance().log(LogLevel::Info, text, functionName, fileName, lineNumber);
}

void XCGLogger::warning(const std::function<std::string()>& text, std::string_view functionName,
                        std::string_view fileName, int lineNumber) {
  defaultInstance().log(LogLevel::Warning, text, functionName, fileName, lineNumber);
}

void XCGLogger::error(const std::function<std::string()>& text, std::string_view functionName,
                      std::string_view fileName, int lineNumber) {
  defaultInstance().log(LogLevel::Error, text, functionName, fileName, lineNumber);
}

void XCGLogger::severe(const std::function<std::string()>& text, std::string_view functionName,
                       std::string_view fileName, int lineNumber) {
  defaultInstance().log(LogLevel::Severe, text, functionName, fileName, lineNumber);
}
