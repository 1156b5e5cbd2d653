#include "main/developer_log.h"

#include <cstdlib>
#include <filesystem>
#include <string_view>

#include "platform/foundation/swap_guard.h"
#include "platform/foundation/user_defaults.h"
#include "platform/frameworks/xcg_logger.h"

std::optional<std::string> routeDeveloperLog() {
  const char* choice = std::getenv("DORVALE_LOG");
  if (choice && std::string_view(choice) == "stderr") return std::nullopt;
  const std::filesystem::path directory = UserDefaults::applicationDataDirectory();
  // Private whatever the umask, parents too: the keychain and analytics below refuse a directory
  // others may write.
  makeDirectoriesPrivately(directory.string());
  const auto path = (directory / "dorvale.log").string();
  std::string why;
  if (!XCGLogger::defaultInstance().setConsoleFile(path, &why))
    return "dorvale: cannot write the developer log to " + path + " (" + why + "): it goes to standard error";
  return "dorvale: developer log in " + path + " (DORVALE_LOG=stderr prints it here)";
}
