// The sample backend under hostile clients, as a separate process with its real password cost:
// bursts of 128 concurrent 8 MiB bodies (sign-ins, which need no account, then calls with a
// token, then well-formed results of a signed-in client whose score text is 8 MiB), its resident
// memory at their peak and after, and how long a sign-in takes meanwhile; then 500 connections
// that send a head and one body byte every half second, and sign-ins beside them; last, the
// results again on a store that already holds such results. Three runs, each on a fresh backend.
// Prints figures; the marks are 400 MB (450 MB for the results), 1 s, and 1 MiB of store growth.
#include <arpa/inet.h>
#include <fmt/format.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "sample_backend_process.h"
#include "store.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kBurst = 128;
constexpr std::size_t kBig = 8 << 20;
constexpr int kSlow = 500;
// Results with 8 MiB texts in the store of the last part, as an older backend let a client keep.
constexpr int kStoredResults = 24;

int connectTo(int port) { return connectToLoopback(port, {10, 0}); }

std::string head(const std::string& path, std::size_t length, const std::string& token = "") {
  return fmt::format("POST /BrevantTest/{} HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n{}"
                     "Content-Length: {}\r\n\r\n",
                     path, token.empty() ? "" : "Authorization: Bearer " + token + "\r\nAuthorization-Provider: basic\r\n",
                     length);
}

// Sends the whole call, as a hostile client does whatever the answer, and returns the answer's status.
int call(int port, const std::string& request, const std::string* body = nullptr) {
  const int fd = connectTo(port);
  if (fd < 0) return 0;
  bool sent = send(fd, request.data(), request.size(), MSG_NOSIGNAL) == ssize_t(request.size());
  for (std::size_t at = 0; sent && body && at < body->size();) {
    const ssize_t n = send(fd, body->data() + at, body->size() - at, MSG_NOSIGNAL);
    sent = n > 0;
    at += std::size_t(std::max<ssize_t>(n, 0));
  }
  std::string answer;
  char buffer[4096];
  for (ssize_t n; answer.find("\r\n\r\n") == std::string::npos && (n = recv(fd, buffer, sizeof buffer, 0)) > 0;)
    answer.append(buffer, std::size_t(n));
  close(fd);
  return answer.size() > 12 ? std::atoi(answer.c_str() + 9) : 0;
}

const std::string kSignIn = R"({"userName":"demo@example.com","password":"demo-pass"})";

// How long one sign-in takes, in seconds (negative when it failed).
double signIn(int port, std::string* token = nullptr) {
  const auto start = Clock::now();
  const int fd = connectTo(port);
  const std::string request = head("Account/TabletLogin", kSignIn.size()) + kSignIn;
  std::string answer;
  char buffer[4096];
  if (fd >= 0 && send(fd, request.data(), request.size(), MSG_NOSIGNAL) == ssize_t(request.size()))
    for (ssize_t n; answer.find('}') == std::string::npos && (n = recv(fd, buffer, sizeof buffer, 0)) > 0;)
      answer.append(buffer, std::size_t(n));
  if (fd >= 0) close(fd);
  const double took = std::chrono::duration<double>(Clock::now() - start).count();
  if (answer.rfind("HTTP/1.1 200", 0) != 0) return -took;
  if (token) *token = nlohmann::json::parse(answer.substr(answer.find("\r\n\r\n") + 4))["token"];
  return took;
}

// Resident memory of `pid` in MB: now, or at its peak so far.
double residentMB(pid_t pid, const char* field) {
  std::ifstream status(fmt::format("/proc/{}/status", pid));
  for (std::string line; std::getline(status, line);)
    if (line.rfind(field, 0) == 0) return std::atof(line.c_str() + std::strlen(field) + 1) / 1024;
  return 0;
}

// From now on the peak counts from what `pid` holds now.
void resetPeak(pid_t pid) { std::ofstream(fmt::format("/proc/{}/clear_refs", pid)) << "5"; }

std::uintmax_t bytesIn(const std::filesystem::path& dir) {
  std::uintmax_t total = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir))
    if (entry.is_regular_file()) total += entry.file_size();
  return total;
}

// 128 concurrent callers, each sending `request` and `body`; a sign-in timed amid them.
void burst(int port, const std::string& request, const std::string& body, std::map<int, int>& statuses,
           double& worstSignIn) {
  std::vector<std::future<int>> callers;
  for (int i = 0; i < kBurst; ++i)
    callers.push_back(std::async(std::launch::async, [&] { return call(port, request, &body); }));
  std::this_thread::sleep_for(100ms);
  worstSignIn = std::max(worstSignIn, std::abs(signIn(port)));
  for (auto& caller : callers) ++statuses[caller.get()];
  worstSignIn = std::max(worstSignIn, std::abs(signIn(port)));
}

void bursts(int port, pid_t pid, const std::string& what, const std::string& request, const std::string& body) {
  resetPeak(pid);
  std::map<int, int> statuses;
  double worst = 0;
  for (int round = 0; round < 3; ++round) burst(port, request, body, statuses, worst);
  std::string counts;
  for (const auto& [status, count] : statuses) counts += fmt::format(" {}x{}", count, status);
  std::printf("  3 bursts of %d x 8 MiB %s: answers%s; peak resident %.0f MB, after %.0f MB; worst sign-in %.3f s\n",
              kBurst, what.c_str(), counts.c_str(), residentMB(pid, "VmHWM:"), residentMB(pid, "VmRSS:"), worst);
}

// A well-formed save of one result of quiz 101 whose score text fills the body to 8 MiB.
std::string bigResult() {
  const std::string head = R"([{"quizId":101,"score":1,"maxScore":11,"questionsId":"10101","answersScore":")";
  const std::string tail = "\"}]";
  std::string text;
  while (text.size() < kBig - head.size() - tail.size()) text += "1.0000;";
  text.resize(kBig - head.size() - tail.size());
  return head + text + tail;
}

// Three bursts of 128 `request`s with `body`, sign-ins one after another beside them all; how much
// the data directory grew.
void burstsWithSignIns(int port, pid_t pid, const std::filesystem::path& dir, const std::string& what,
                       const std::string& request, const std::string& body) {
  resetPeak(pid);
  const auto before = bytesIn(dir);
  std::atomic<bool> done{false};
  std::vector<double> took;
  std::thread signingIn([&] {
    while (!done) took.push_back(signIn(port));
  });
  std::map<int, int> statuses;
  for (int round = 0; round < 3; ++round) {
    std::vector<std::future<int>> callers;
    for (int i = 0; i < kBurst; ++i)
      callers.push_back(std::async(std::launch::async, [&] { return call(port, request, &body); }));
    for (auto& caller : callers) ++statuses[caller.get()];
  }
  done = true;
  signingIn.join();
  std::string counts;
  for (const auto& [status, count] : statuses) counts += fmt::format(" {}x{}", count, status);
  const auto failed = std::count_if(took.begin(), took.end(), [](double t) { return t < 0; });
  const auto slow = std::count_if(took.begin(), took.end(), [](double t) { return t >= 1; });
  double worst = 0;
  for (double t : took) worst = std::max(worst, std::abs(t));
  std::printf("  3 bursts of %d x 8 MiB %s: answers%s; peak resident %.0f MB, after %.0f MB\n", kBurst, what.c_str(),
              counts.c_str(), residentMB(pid, "VmHWM:"), residentMB(pid, "VmRSS:"));
  std::printf(
      "    %zu sign-ins beside them, %td failed, %td over 1 s, worst %.3f s; the data directory grew by %.1f KiB\n",
      took.size(), failed, slow, worst, (double(bytesIn(dir)) - double(before)) / 1024);
}

// Puts `count` results with 8 MiB texts into the demo account's store, as an older backend kept them.
void storeBigResults(const std::filesystem::path& dir, int count) {
  Store store(dir / "sample_backend.sqlite3", {1000, std::chrono::hours(1)});
  QuizResult result;
  result.accountId = store.accountByEmail("demo@example.com")->id;
  result.quizId = 101;
  result.maxScore = 11;
  result.date = "2024-01-01 00:00:00";
  result.answersScore = std::string(kBig, '1');
  result.questionsId = "10101";
  for (int i = 0; i < count; ++i) store.saveResults({result}, {});
}

// Connections that send a head and then a body byte every half second, for 6.5 s; sign-ins beside them.
void slowBodies(int port, const std::string& what, const std::string& request) {
  std::vector<int> sockets;
  for (int i = 0; i < kSlow; ++i)
    if (const int fd = connectTo(port); fd >= 0 && send(fd, request.data(), request.size(), MSG_NOSIGNAL) > 0)
      sockets.push_back(fd);
  std::vector<double> took;
  int failed = 0;
  const auto begun = Clock::now();
  for (auto nextByte = begun; Clock::now() - begun < 6500ms;) {
    if (Clock::now() >= nextByte) {
      for (int fd : sockets) send(fd, "1", 1, MSG_NOSIGNAL | MSG_DONTWAIT);
      nextByte += 500ms;
    }
    const double once = signIn(port);
    failed += once < 0;
    took.push_back(std::abs(once));
    std::this_thread::sleep_for(200ms);
  }
  for (int fd : sockets) close(fd);
  std::sort(took.begin(), took.end());
  std::printf("  %zu slow %s bodies: %zu sign-ins (%d failed), median %.3f s, worst %.3f s\n", sockets.size(),
              what.c_str(), took.size(), failed, took[took.size() / 2], took.back());
}

}  // namespace

int main() {
  rlimit files{};
  getrlimit(RLIMIT_NOFILE, &files);
  files.rlim_cur = files.rlim_max;
  setrlimit(RLIMIT_NOFILE, &files);
  const std::string results = bigResult();
  const std::string junk = nlohmann::json::array({{{"quizId", 1}, {"date", std::string(kBig - 40, '1')}}}).dump();
  for (int run = 1; run <= 3; ++run) {
    char dir[] = "/tmp/backend-bench-XXXXXX";
    if (!mkdtemp(dir)) return 0;
    // The real password cost: a sign-in takes its hashing time too.
    SampleBackendProcess backend(dir, {"--pbkdf2-iterations", "600000"});
    std::printf("run %d:\n", run);
    std::string token;
    if (backend.port() <= 0 || signIn(backend.port(), &token) < 0) {
      std::printf("  the sample backend did not come up\n");
      return 0;
    }
    std::printf("  a sign-in alone: %.3f s\n", signIn(backend.port()));
    bursts(backend.port(), backend.pid(), "sign-ins", head("Account/TabletLogin", junk.size()), junk);
    burstsWithSignIns(backend.port(), backend.pid(), dir, "calls with a token",
                      head("Tablet/SaveQuizResults", junk.size(), token), junk);
    burstsWithSignIns(backend.port(), backend.pid(), dir, "results with a token",
                      head("Tablet/SaveQuizResults", results.size(), token), results);
    slowBodies(backend.port(), "sign-in", head("Account/TabletLogin", 100000));
    slowBodies(backend.port(), "token call", head("Tablet/SaveQuizResults", 100000, token));
    backend.stop();
    storeBigResults(dir, kStoredResults);
    SampleBackendProcess holding(dir, {"--pbkdf2-iterations", "600000"});
    burstsWithSignIns(holding.port(), holding.pid(), dir,
                      fmt::format("results with a token, {} such results stored", kStoredResults),
                      head("Tablet/SaveQuizResults", results.size(), token), results);
    holding.stop();
    std::filesystem::remove_all(dir);
  }
  return 0;
}
