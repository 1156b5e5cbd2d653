// A stateful stand-in for the backend, for running and testing the client on one machine:
//
//   sample_backend [--port N] [--data DIR] [--zedodo-token-lifetime SECONDS]
//                  [--token-lifetime SECONDS] [--pbkdf2-iterations N] [--request-log] [--dump]
//
// It prints "DEMO <e-mail> <password>" ("DEMO <e-mail>" once that password was changed) and then
// "LISTENING <port>" when it takes calls, and stops on SIGINT, SIGTERM or SIGHUP. --dump prints
// what DIR holds instead of serving. One backend at a time serves a DIR: a second one exits with
// status 3. A call that finds DIR removed is answered 503, and the backend stops with status 1.
// Its request log goes to standard error, or with --request-log to DIR/requests.log; its lines
// about itself ("sample_backend: ...") then go to standard error as well.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <thread>

#include "data_dir.h"
#include "server.h"

namespace {

// Beside the client's own data, where the run script puts it too.
std::filesystem::path defaultDataDir() {
  auto env = [](const char* name) -> std::string {
    const char* value = std::getenv(name);
    return value && *value ? value : "";
  };
  std::filesystem::path dir = env("DORVALE_DATA_DIR");
  if (dir.empty())
    dir = env("XDG_DATA_HOME").empty() ? std::filesystem::path(env("HOME")) / ".local/share/dorvale"
                                       : std::filesystem::path(env("XDG_DATA_HOME")) / "dorvale";
  return dir / "sample_backend";
}

int usage() {
  std::cerr << "usage: sample_backend [--port N] [--data DIR] [--zedodo-token-lifetime SECONDS]\n"
               "                      [--token-lifetime SECONDS] [--pbkdf2-iterations N] [--request-log] [--dump]\n";
  return 2;
}

// A whole number in [low, high], or nothing.
std::optional<long> number(const char* text, long low, long high) {
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text, &end, 10);
  if (end == text || *end || errno || value < low || value > high) return std::nullopt;
  return value;
}

constexpr int kDataDirBusyStatus = 3;

// Without a hash: the store records a change. Data recorded before it did is checked once.
bool demoPasswordChanged(Store& store) {
  const auto demo = store.accountByEmail(SampleServer::kDemoEmail);
  if (!demo) return true;
  if (const auto changed = store.passwordChanged(demo->id)) return *changed;
  const auto password = store.password(demo->id);
  const bool changed = !password || !password->verifies(SampleServer::kDemoPassword);
  store.recordPasswordChanged(demo->id, changed);
  return changed;
}

// Every connection takes a descriptor: many slow clients must not leave none for the others.
void raiseOpenFileLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == limit.rlim_max) return;
  limit.rlim_cur = limit.rlim_max;
  setrlimit(RLIMIT_NOFILE, &limit);
}

struct Options {
  int port = 0;
  std::filesystem::path dataDir = defaultDataDir();
  bool dump = false;
  bool requestLog = false;
  SampleServerSettings settings;
};

// Nothing when an argument is unknown or out of its range.
std::optional<Options> parseOptions(int argc, char* argv[]) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--dump") {
      options.dump = true;
      continue;
    }
    if (arg == "--request-log") {
      options.requestLog = true;
      continue;
    }
    if (i + 1 == argc) return std::nullopt;
    const char* value = argv[++i];
    std::optional<long> parsed;
    if (arg == "--data") {
      options.dataDir = value;
    } else if (arg == "--port" && (parsed = number(value, 0, 65535))) {
      options.port = static_cast<int>(*parsed);
    } else if (arg == "--zedodo-token-lifetime" && (parsed = number(value, 1, 86400))) {
      options.settings.zedodoTokenLifetime = std::chrono::seconds(*parsed);
    } else if (arg == "--token-lifetime" && (parsed = number(value, 1, 10L * 365 * 86400))) {
      options.settings.store.tokenLifetime = std::chrono::seconds(*parsed);
    } else if (arg == "--pbkdf2-iterations" && (parsed = number(value, 1, 100000000))) {
      options.settings.store.passwordIterations = static_cast<int>(*parsed);
    } else {
      return std::nullopt;
    }
  }
  return options;
}

// Where standard error went before the request log took its place, or -1.
int gTerminal = -1;

// A line about the backend itself: in the request log, and also before whoever started it.
void tell(const std::string& text) {
  const std::string line = "sample_backend: " + text + "\n";
  std::cerr << line << std::flush;
  if (gTerminal >= 0 && ::write(gTerminal, line.data(), line.size()) < 0) gTerminal = -1;
}

// A redirect by the shell would follow a link planted in the log's place.
void appendRequestLogTo(const PrivateDir& dir) {
  const int log = dir.openOwnFile("requests.log", O_WRONLY | O_APPEND | O_CREAT);
  gTerminal = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
  ::dup2(log, STDERR_FILENO);
  ::close(log);
}

}  // namespace

int main(int argc, char* argv[]) {
  const auto options = parseOptions(argc, argv);
  if (!options) return usage();
  const auto& [port, dataDir, dump, requestLog, settings] = *options;
  // All it writes is its data, private from the start: the store, its journals, the lock, the log.
  ::umask(077);

  // Signals wait for the thread below; every thread started later inherits the mask.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  // A closed terminal.
  sigaddset(&stopSignals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  try {
    if (dump) {
      std::cout << Store(unswappable(dataDir) / "sample_backend.sqlite3").dump();
      return 0;
    }
    const PrivateDir dir(dataDir);
    if (requestLog) appendRequestLogTo(dir);
    const DataDirLock lock(dir);
    raiseOpenFileLimit();
    SampleServer server(dir.path(), settings);
    const int bound = server.bind(port);
    if (bound < 0) {
      tell("cannot listen on 127.0.0.1:" + std::to_string(port));
      return 1;
    }
    const bool offerDemoPassword = !demoPasswordChanged(server.store());
    std::atomic<bool> served{false};
    std::thread stopper([&server, &served, stopSignals] {
      int signal = 0;
      sigwait(&stopSignals, &signal);
      // A stop before run() listens is lost: repeat it until run() returns.
      while (!served) {
        server.stop();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    });
    std::cout << "DEMO " << SampleServer::kDemoEmail;
    if (offerDemoPassword) std::cout << ' ' << SampleServer::kDemoPassword;
    std::cout << "\nLISTENING " << bound << std::endl;
    server.run();
    served = true;
    // Wakes it when run() ended by itself.
    pthread_kill(stopper.native_handle(), SIGTERM);
    stopper.join();
    if (const auto why = server.dataDirGone()) {
      tell("stopped, since the data directory " + dir.path().string() + " is gone (" + *why +
           ") and nothing saved would be kept; start the backend again to serve from a new one");
      return 1;
    }
  } catch (const DataDirBusy& error) {
    tell(error.what());
    return kDataDirBusyStatus;
  } catch (const std::exception& error) {
    tell(error.what());
    return 1;
  }
  return 0;
}
