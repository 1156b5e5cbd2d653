#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The console logging framework: one shared logger with a level filter and a configurable line
// prefix. Output goes to stderr, to a console file the program names, or to a sink that tests
// install. In every one, control characters but newline and tab, C1 controls and the bidi
// embeddings, overrides and isolates are written as \uXXXX, bytes that are not UTF-8 as \xHH.
class XCGLogger {
 public:
  enum class LogLevel { Verbose = 0, Debug, Info, Warning, Error, Severe, None };

  static XCGLogger& defaultInstance();

  void setup(LogLevel level = LogLevel::Debug, bool showLogIdentifier = false, bool showFunctionName = true,
             bool showThreadName = false, bool showLogLevel = true, bool showFileNames = true,
             bool showLineNumbers = true, bool showDate = true, std::optional<std::string> writeToFile = std::nullopt,
             LogLevel fileLogLevel = LogLevel::Debug);

  LogLevel outputLogLevel() const;
  bool isEnabledFor(LogLevel level) const;

  // Builds the text only when `level` is enabled, synchronously inside the call. An exception from
  // the builder stays inside: the line says the text failed.
  void log(LogLevel level, const std::function<std::string()>& text, std::string_view functionName,
           std::string_view fileName, int lineNumber);

  // Class-level shorthands on the default instance.
  static void verbose(const std::function<std::string()>& text, std::string_view functionName = "",
                      std::string_view fileName = "", int lineNumber = 0);
  static void debug(const std::function<std::string()>& text, std::string_view functionName = "",
                    std::string_view fileName = "", int lineNumber = 0);
  static void info(const std::function<std::string()>& text, std::string_view functionName = "",
                   std::string_view fileName = "", int lineNumber = 0);
  static void warning(const std::function<std::string()>& text, std::string_view functionName = "",
                      std::string_view fileName = "", int lineNumber = 0);
  static void error(const std::function<std::string()>& text, std::string_view functionName = "",
                    std::string_view fileName = "", int lineNumber = 0);
  static void severe(const std::function<std::string()>& text, std::string_view functionName = "",
                     std::string_view fileName = "", int lineNumber = 0);

  // The console output goes to a file at `path` instead of stderr, started afresh and readable by
  // its owner only (the log holds profile data), each line written at its end whatever another
  // run on it did; nothing: back to stderr. False, stderr kept and
  // `why` said, when the file cannot be opened or is not a regular file of this user's (a link,
  // a named pipe): such a file is left as it is.
  bool setConsoleFile(const std::optional<std::string>& path, std::string* why = nullptr);

  // Tests: every formatted line (prefix + text) goes to `sink` instead of stderr; nullptr restores.
  // The sink is called without any lock held, so it may log itself.
  using Sink = std::function<void(LogLevel level, const std::string& line, const std::string& text)>;
  void setSink(Sink sink);

 private:
  XCGLogger();
  struct Config;
  mutable std::mutex mutex_;
  std::shared_ptr<Config> config_;
  Sink sink_;
  std::shared_ptr<std::FILE> console_;
};
