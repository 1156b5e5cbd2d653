#include "main/developer_log.h"

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "platform/foundation/user_defaults.h"
#include "platform/frameworks/xcg_logger.h"

std::optional<std::string> routeDeveloperLog() {
  const char* choice = std::getenv("DORVALE_LOG");
  if (choice && std::string_view(choice) == "stderr") return std::nullopt;
  const std::filesystem::path directory = UserDefaults::applicationDataDirectory();
  std::error_code error;
  if (std::filesystem::create_directories(directory, error)) ::chmod(directory.c_str(), 0700);
  const auto path = (directory / "dorvale.log").string();
  std::string why;
  if (!XCGLogger::defaultInstance().setConsoleFile(path, &why))
    return "dorvale: cannot write the developer log to " + path + " (" + why + "): it goes to standard error";
  return "dorvale: developer log in " + path + " (DORVALE_LOG=stderr prints it here)";
}
