// A stateful stand-in for the backend, for running and testing the client on one machine:
//
//   sample_backend [--port N] [--data DIR] [--zedodo-token-lifetime SECONDS] [--dump]
//
// It prints "DEMO <e-mail> <password>" and then "LISTENING <port>" when it takes calls, and
// stops on SIGINT or SIGTERM. --dump prints what DIR holds instead of serving.
#include <signal.h>

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>

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
  std::cerr << "usage: sample_backend [--port N] [--data DIR] [--zedodo-token-lifetime SECONDS] [--dump]\n";
  return 2;
}

}  // namespace

int main(int argc, char* argv[]) {
  int port = 0;
  std::filesystem::path dataDir = defaultDataDir();
  bool dump = false;
  long zedodoTokenLifetime = 3600;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--dump") {
      dump = true;
    } else if (arg == "--zedodo-token-lifetime" && i + 1 < argc) {
      char* end = nullptr;
      zedodoTokenLifetime = std::strtol(argv[++i], &end, 10);
      if (*end || zedodoTokenLifetime < 1 || zedodoTokenLifetime > 86400) return usage();
    } else if ((arg == "--port" || arg == "--data") && i + 1 < argc) {
      const std::string value = argv[++i];
      if (arg == "--data") {
        dataDir = value;
        continue;
      }
      char* end = nullptr;
      const long number = std::strtol(value.c_str(), &end, 10);
      if (*end || number < 0 || number > 65535) return usage();
      port = static_cast<int>(number);
    } else {
      return usage();
    }
  }

  // Signals wait for the thread below; every thread started later inherits the mask.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  try {
    if (dump) {
      std::cout << Store(dataDir / "sample_backend.sqlite3").dump();
      return 0;
    }
    SampleServer server(dataDir, std::chrono::seconds(zedodoTokenLifetime));
    const int bound = server.bind(port);
    if (bound < 0) {
      std::cerr << "sample_backend: cannot listen on 127.0.0.1:" << port << "\n";
      return 1;
    }
    std::thread([&server, stopSignals] {
      int signal = 0;
      sigwait(&stopSignals, &signal);
      server.stop();
    }).detach();
    std::cout << "DEMO " << SampleServer::kDemoEmail << ' ' << SampleServer::kDemoPassword << '\n'
              << "LISTENING " << bound << std::endl;
    server.run();
  } catch (const std::exception& error) {
    std::cerr << "sample_backend: " << error.what() << "\n";
    return 1;
  }
  return 0;
}
