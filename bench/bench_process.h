#pragma once

// Running a benchmark's parts in processes of their own: the pinned figures in a child that pins
// itself (its threads all on one CPU, its server in it too), and the loopback server in a child
// of its own, so that the unpinned figures see the client's threads alone in their process, as
// the client runs. The server child answers commands on its stdin, one reply line each on its
// stdout: what it has recorded, so the parent checks its requests as it would in-process.

#include <curl/curl.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <iostream>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "support/fake_backend.h"

extern char** environ;

inline bool hasFlag(int argc, char** argv, const char* flag) {
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], flag) == 0) return true;
  return false;
}

// Starts this program again with `args`; its stdin and stdout are the given descriptors (-1:
// this process's own). Returns the child's id, or -1.
inline pid_t spawnSelf(const std::vector<std::string>& args, int in = -1, int out = -1) {
  std::vector<char*> argv;
  static const std::string self = "/proc/self/exe";
  argv.push_back(const_cast<char*>(self.c_str()));
  for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (in >= 0) posix_spawn_file_actions_adddup2(&actions, in, STDIN_FILENO);
  if (out >= 0) posix_spawn_file_actions_adddup2(&actions, out, STDOUT_FILENO);
  pid_t pid = -1;
  if (posix_spawn(&pid, self.c_str(), &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// Runs this program again with `args` to its end; true when it exited with 0.
inline bool runSelf(const std::vector<std::string>& args) {
  std::fflush(stdout);
  const pid_t pid = spawnSelf(args);
  int status = 0;
  return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// What the server child has recorded since its last clear.
struct ServerReport {
  std::size_t requests = 0;
  std::size_t connections = 0;  // accepted since the server started
  std::size_t clientPorts = 0;  // connections the recorded requests came on
  bool sameHeaders = true;      // every recorded request carried the first one's header fields
  std::uint64_t headers = 0;    // FNV-1a of the first request's fields, sorted, names lowercased
  std::uint64_t lastBodyLength = 0;
  std::uint64_t lastBodyHash = 0;
  std::uint64_t uploadLength = 0;  // of the last resumable upload
  std::uint64_t uploadHash = 0;
};

inline std::uint64_t headerDigest(std::vector<std::pair<std::string, std::string>> headers) {
  for (auto& [name, value] : headers) std::transform(name.begin(), name.end(), name.begin(), ::tolower);
  std::sort(headers.begin(), headers.end());
  std::uint64_t hash = kFNV1aOffset;
  for (const auto& [name, value] : headers) {
    const std::string line = name + ": " + value + "\n";
    hash = fnv1a(hash, line.data(), line.size());
  }
  return hash;
}

// What `server` has recorded since its last clear.
inline ServerReport reportOf(const FakeBackend& server) {
  ServerReport report;
  const auto requests = server.requests();
  std::set<int> ports;
  for (const auto& request : requests) {
    ports.insert(request.remotePort);
    const std::uint64_t digest = headerDigest(request.headers);
    if (&request == &requests.front()) report.headers = digest;
    report.sameHeaders = report.sameHeaders && digest == report.headers;
  }
  report.requests = requests.size();
  report.connections = server.connectionCount();
  report.clientPorts = ports.size();
  if (!requests.empty()) {
    report.lastBodyLength = requests.back().bodyLength;
    report.lastBodyHash = requests.back().bodyHash;
  }
  const auto uploads = server.resumableUploads();
  if (!uploads.empty()) {
    report.uploadLength = uploads.back().receivedLength;
    report.uploadHash = uploads.back().receivedHash;
  }
  return report;
}

// The server child's side: prints the port, then answers "clear" and "report" until stdin closes.
inline int serveCommands(FakeBackend& server) {
  std::printf("%d\n", server.port());
  std::fflush(stdout);
  for (std::string command; std::getline(std::cin, command);) {
    if (command == "clear") {
      server.clearRequests();
      std::printf("ok\n");
    } else {
      const ServerReport r = reportOf(server);
      std::printf("%zu %zu %zu %d %llu %llu %llu %llu %llu\n", r.requests, r.connections, r.clientPorts,
                  r.sameHeaders ? 1 : 0, static_cast<unsigned long long>(r.headers),
                  static_cast<unsigned long long>(r.lastBodyLength), static_cast<unsigned long long>(r.lastBodyHash),
                  static_cast<unsigned long long>(r.uploadLength), static_cast<unsigned long long>(r.uploadHash));
    }
    std::fflush(stdout);
  }
  return 0;
}

// A benchmark's main: started with `--serve` it is the server child, its server set up by
// `setUp`; otherwise it runs `measure`, whose result is the exit status.
template <class SetUp, class Measure>
int benchMain(int argc, char** argv, SetUp setUp, Measure measure) {
  curl_global_init(CURL_GLOBAL_DEFAULT);
  int status = 0;
  if (hasFlag(argc, argv, "--serve")) {
    FakeBackend server;
    setUp(server);
    status = serveCommands(server);
  } else {
    status = measure();
  }
  curl_global_cleanup();
  return status;
}

// The parent's side: this program started with `--serve` (see benchMain).
class ServerProcess {
 public:
  ServerProcess() {
    int toChild[2];
    int fromChild[2];
    if (::pipe2(toChild, O_CLOEXEC) != 0) return;
    if (::pipe2(fromChild, O_CLOEXEC) != 0) {
      ::close(toChild[0]);
      ::close(toChild[1]);
      return;
    }
    pid_ = spawnSelf({"--serve"}, toChild[0], fromChild[1]);
    ::close(toChild[0]);
    ::close(fromChild[1]);
    commands_ = ::fdopen(toChild[1], "w");
    replies_ = ::fdopen(fromChild[0], "r");
    port_ = std::atoi(readLine().c_str());
    if (port_ <= 0) std::fprintf(stderr, "the server process did not start\n");
  }
  ~ServerProcess() {
    if (commands_) std::fclose(commands_);  // the child's stdin ends: it exits
    if (replies_) std::fclose(replies_);
    if (pid_ > 0) waitpid(pid_, nullptr, 0);
  }
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  bool running() const { return port_ > 0; }
  std::string url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/" + path;
  }
  void clear() {
    std::fputs("clear\n", commands_);
    std::fflush(commands_);
    readLine();
  }
  ServerReport report() {
    std::fputs("report\n", commands_);
    std::fflush(commands_);
    ServerReport r;
    int same = 0;
    unsigned long long headers = 0, bodyLength = 0, bodyHash = 0, uploadLength = 0, uploadHash = 0;
    std::sscanf(readLine().c_str(), "%zu %zu %zu %d %llu %llu %llu %llu %llu", &r.requests, &r.connections,
                &r.clientPorts, &same, &headers, &bodyLength, &bodyHash, &uploadLength, &uploadHash);
    r.sameHeaders = same != 0;
    r.headers = headers;
    r.lastBodyLength = bodyLength;
    r.lastBodyHash = bodyHash;
    r.uploadLength = uploadLength;
    r.uploadHash = uploadHash;
    return r;
  }

 private:
  std::string readLine() {
    char line[512] = {};
    if (!replies_ || !std::fgets(line, sizeof line, replies_)) return {};
    return line;
  }

  pid_t pid_ = -1;
  FILE* commands_ = nullptr;
  FILE* replies_ = nullptr;
  int port_ = 0;
};

// The server a phase's clients talk to: in this process, or in a child of its own.
class BenchServer {
 public:
  explicit BenchServer(FakeBackend& local) : local_(&local) {}
  explicit BenchServer(ServerProcess& remote) : remote_(&remote) {}
  std::string url(const std::string& path) const { return local_ ? local_->url(path) : remote_->url(path); }
  void clear() { local_ ? local_->clearRequests() : remote_->clear(); }
  ServerReport report() { return local_ ? reportOf(*local_) : remote_->report(); }

 private:
  FakeBackend* local_ = nullptr;
  ServerProcess* remote_ = nullptr;
};
