#include "platform/ui/external_browser.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <ostream>
#include <sstream>
#include <thread>

#include "platform/ui/render.h"

extern char** environ;

namespace {

bool isSet(const char* value) { return value && *value; }

using Steady = std::chrono::steady_clock;

// When each sign-in's browser command that still runs started, by process id.
struct RunningBrowsers {
  std::mutex mutex;
  std::map<pid_t, Steady::time_point> started;
};

// Never destroyed: a reaper thread may outlive the statics at exit.
RunningBrowsers& runningBrowsers() {
  static auto* shared = new RunningBrowsers;
  return *shared;
}

// Starts `command` without waiting for it: 0, or the error that kept it from starting. A command
// for a sign-in is counted among the running browsers until it ends.
int spawnDetached(std::vector<std::string> command, bool forSignIn = false) {
  std::vector<char*> argv;
  for (auto& word : command) argv.push_back(word.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (int error = posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ); error != 0) return error;
  // Its id is not given again before the reaper below has waited for it.
  if (forSignIn) {
    std::lock_guard lock(runningBrowsers().mutex);
    runningBrowsers().started.emplace(pid, Steady::now());
  }
  // Reaped when it ends, however long the browser stays open.
  std::thread([pid] {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    std::lock_guard ended(runningBrowsers().mutex);
    runningBrowsers().started.erase(pid);
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
  const int error = command.empty() ? 0 : spawnDetached(command, true);
  const bool started = !command.empty() && error == 0;
  if (error != 0) out << "Cannot start " << printableText(command.front()) << ": " << std::strerror(error) << "\n";
  if (started) {
    out << "The sign-in waits in the browser: finish it there, or type 'cancel' to give up. If no page came up, "
           "open this address: ";
  } else {
    out << "The sign-in waits in a browser: open this address there, or type 'cancel' to give up: ";
  }
  out << printableText(url.absoluteString()) << "\n";
  out.flush();
  return started;
}

std::size_t ExternalBrowser::signInBrowsersRunning(TimeInterval seconds) {
  const auto since =
      Steady::now() - std::chrono::duration_cast<Steady::duration>(std::chrono::duration<double>(seconds));
  std::lock_guard lock(runningBrowsers().mutex);
  std::size_t running = 0;
  for (const auto& [pid, started] : runningBrowsers().started)
    if (started > since) ++running;
  return running;
}
