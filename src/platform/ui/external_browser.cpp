#include "platform/ui/external_browser.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstring>
#include <ostream>
#include <sstream>
#include <thread>

#include "platform/ui/render.h"

extern char** environ;

namespace {

bool isSet(const char* value) { return value && *value; }

// Starts `command` without waiting for it: 0, or the error that kept it from starting.
int spawnDetached(std::vector<std::string> command) {
  std::vector<char*> argv;
  for (auto& word : command) argv.push_back(word.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (int error = posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ); error != 0) return error;
  // Reaped when it ends, however long the browser stays open.
  std::thread([pid] {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
  return 0;
}

}  // namespace

std::vector<std::string> ExternalBrowser::commandFor(const URL& url, const Environment& environment) {
  std::vector<std::string> command;
  if (const char* browser = environment(kBrowserVariable); isSet(browser)) {
    std::istringstream words(browser);
    for (std::string word; words >> word;) command.push_back(word);
  } else if (isSet(environment("DISPLAY")) || isSet(environment("WAYLAND_DISPLAY"))) {
    command.push_back("xdg-open");
  }
  if (!command.empty()) command.push_back(url.absoluteString());
  return command;
}

tl::expected<void, std::string> ExternalBrowser::start(const URL& url, const Environment& environment) {
  auto command = commandFor(url, environment);
  if (command.empty()) {
    return tl::make_unexpected(std::string(kBrowserVariable) + " is not set and there is no display");
  }
  if (int error = spawnDetached(command); error != 0) {
    return tl::make_unexpected("cannot start " + printableText(command.front()) + ": " + std::strerror(error));
  }
  return {};
}

bool ExternalBrowser::open(const URL& url, std::ostream& out) {
  auto command = commandFor(url);
  if (!command.empty()) {
    int error = spawnDetached(command);
    if (error == 0) return true;
    out << "Cannot start " << printableText(command.front()) << ": " << std::strerror(error) << "\n";
  }
  out << "The sign-in waits in a browser: open this address there, or type 'cancel' to give up: "
      << printableText(url.absoluteString()) << "\n";
  out.flush();
  return false;
}
