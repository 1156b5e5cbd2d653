// The sample backend under hostile clients, as a separate process with its real password cost:
// bursts of 128 concurrent 8 MiB bodies (sign-ins, which need no account, then calls with a
// token, then well-formed results of a signed-in client whose score text is 8 MiB), its resident
// memory at their peak and after, and how long a sign-in takes meanwhile; then 500 connections
// that send a head and one body byte every half second, and sign-ins beside them; last, the
// results again on a store that already holds such results. Before these, a backend whose store
// has an account holding a million results: its best results, three reads of all its results at
// once (answers read whole, chunked ones decoded) with sign-ins of another account beside them,
// the descriptors it holds after 64 reads at once, and a call that brings 9,000 more. Three runs,
// each on a fresh backend; with --held-results, the million results alone. Prints figures; the
// marks are 400 MB (450 MB for the results), 1 s, and 1 MiB of store growth; for the held results
// 0.2 s and 50 MB for the best, 200 MB added at the peak of the three reads and 50 MB after them,
// 1 s for a sign-in, 16 more descriptors and a 400 for the 9,000.
#include <arpa/inet.h>
#include <fmt/format.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <utility>
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
double signIn(int port, std::string* token = nullptr, const std::string& body = kSignIn) {
  const auto start = Clock::now();
  const int fd = connectTo(port);
  const std::string request = head("Account/TabletLogin", body.size()) + body;
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

constexpr int kHeldResults = 1000000;
const std::string kHolderSignIn = R"({"userName":"holder@example.com","password":"holder-pass"})";

// A store whose own account holds a million results over the four quizzes, as a client's calls
// would have left them.
void storeHeldResults(const std::filesystem::path& file) {
  Store store(file, {1000, std::chrono::hours(1)});
  const auto holder = store.createAccount({0, "holder@example.com", "Kit", "Holder", false},
                                          PasswordHash::of("holder-pass", 1000), {1});
  std::mt19937 random(7);
  std::vector<QuizResult> batch;
  for (int i = 0; i < kHeldResults; ++i) {
    QuizResult result;
    result.accountId = *holder;
    result.quizId = std::array{101, 102, 201, 301}[std::size_t(i) % 4];
    result.maxScore = 11;
    result.score = double(random() % 12);
    result.result = 1 + std::int64_t(result.score) / 3;
    result.date = "2024-01-01 00:00:00";
    result.answersScore = "1.0000;1.0000;1.0000;1.0000";
    result.questionsId = fmt::format("{0}01;{0}02;{0}03;{0}04", result.quizId);
    batch.push_back(std::move(result));
    if (batch.size() == 10000) store.saveResults(std::exchange(batch, {}), {});
  }
}

// Follows an answer's body as it arrives, by its length or by its chunks, and counts its bytes.
class BodyReader {
 public:
  BodyReader(bool chunked, std::size_t length) : chunked_(chunked), left_(length) {}

  // True once the body is complete.
  bool take(const char* data, std::size_t size) {
    for (std::size_t at = 0; at < size && !done();) {
      if (!chunked_ || state_ == State::data) {
        const std::size_t part = std::min(left_, size - at);
        at += part;
        size_ += part;
        if ((left_ -= part) == 0 && chunked_) state_ = State::dataEnd;
        continue;
      }
      const char c = data[at++];
      if (c != '\n') {
        line_ += c;
        continue;
      }
      if (state_ == State::sizeLine) {
        left_ = std::strtoull(line_.c_str(), nullptr, 16);
        state_ = left_ > 0 ? State::data : State::trailer;
      } else if (state_ == State::dataEnd) {
        state_ = State::sizeLine;
      } else if (line_.empty() || line_ == "\r") {
        state_ = State::done;
      }
      line_.clear();
    }
    return done();
  }
  bool done() const { return chunked_ ? state_ == State::done : left_ == 0; }
  std::size_t size() const { return size_; }

 private:
  enum class State { sizeLine, data, dataEnd, trailer, done };
  const bool chunked_;
  std::size_t left_;
  std::size_t size_ = 0;
  State state_ = State::sizeLine;
  std::string line_;
};

// One call with its whole answer read, a chunked one decoded: its status and the bytes of its
// body; 0 bytes when the body did not come whole.
std::pair<int, std::size_t> wholeCall(int port, const std::string& request) {
  const int fd = connectToLoopback(port, {120, 0});
  if (fd < 0) return {0, 0};
  std::string answerHead;
  std::optional<BodyReader> body;
  char buffer[1 << 16];
  if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) == ssize_t(request.size()))
    for (ssize_t n; (!body || !body->done()) && (n = recv(fd, buffer, sizeof buffer, 0)) > 0;) {
      if (body) {
        body->take(buffer, std::size_t(n));
        continue;
      }
      answerHead.append(buffer, std::size_t(n));
      const auto end = answerHead.find("\r\n\r\n");
      if (end == std::string::npos) continue;
      const auto at = answerHead.find("Content-Length: ");
      body.emplace(answerHead.find("Transfer-Encoding: chunked") < end,
                   at < end ? std::size_t(std::atoll(answerHead.c_str() + at + 16)) : 0);
      body->take(answerHead.data() + end + 4, answerHead.size() - end - 4);
      answerHead.resize(end);
    }
  close(fd);
  return {answerHead.size() > 12 ? std::atoi(answerHead.c_str() + 9) : 0, body && body->done() ? body->size() : 0};
}

std::size_t descriptorsOf(pid_t pid) {
  const std::filesystem::directory_iterator fds(fmt::format("/proc/{}/fd", pid));
  return std::size_t(std::distance(begin(fds), end(fds)));
}

void heldResults(const std::filesystem::path& filled, int run) {
  char dir[] = "/tmp/backend-bench-XXXXXX";
  if (!mkdtemp(dir)) return;
  std::filesystem::copy_file(filled, std::filesystem::path(dir) / "sample_backend.sqlite3");
  SampleBackendProcess backend(dir, {"--pbkdf2-iterations", "600000"});
  std::string token;
  std::printf("run %d, %d results held by one account:\n", run, kHeldResults);
  if (backend.port() <= 0 || signIn(backend.port(), &token, kHolderSignIn) < 0 || signIn(backend.port()) < 0) {
    std::printf("  the sample backend did not come up\n");
    return;
  }
  const int port = backend.port();
  const pid_t pid = backend.pid();
  std::printf("  a sign-in alone: %.3f s\n", signIn(port));
  for (const std::string filter : {"{}", R"({"curriculumId":12})", R"({"lectureId":1})"}) {
    resetPeak(pid);
    const double before = residentMB(pid, "VmRSS:");
    const auto start = Clock::now();
    const auto [status, bytes] = wholeCall(port, head("Tablet/GetBestQuizResults", filter.size(), token) + filter);
    const double took = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("  best results %s: %d, %zu bytes in %.3f s; %.1f MB added at the peak\n", filter.c_str(), status,
                bytes, took, residentMB(pid, "VmHWM:") - before);
  }

  // Three reads of all its results at once, sign-ins of another account beside them.
  constexpr int kReads = 3;
  const double before = residentMB(pid, "VmRSS:");
  resetPeak(pid);
  std::vector<std::future<std::pair<double, std::pair<int, std::size_t>>>> reading;
  for (int i = 0; i < kReads; ++i)
    reading.push_back(std::async(std::launch::async, [&] {
      const auto start = Clock::now();
      const auto answer = wholeCall(port, head("Tablet/GetQuizResults", 2, token) + "{}");
      return std::pair(std::chrono::duration<double>(Clock::now() - start).count(), answer);
    }));
  std::vector<double> took;
  do took.push_back(signIn(port));
  while (std::any_of(reading.begin(), reading.end(),
                     [](auto& read) { return read.wait_for(0s) != std::future_status::ready; }));
  std::string readFigures;
  for (auto& read : reading) {
    const auto [seconds, answer] = read.get();
    readFigures += fmt::format(" {}: {} bytes in {:.2f} s;", answer.first, answer.second, seconds);
  }
  const double peak = residentMB(pid, "VmHWM:");
  // The memory goes back as each answer ends, just after its last byte.
  std::this_thread::sleep_for(500ms);
  const auto failed = std::count_if(took.begin(), took.end(), [](double t) { return t < 0; });
  const auto slow = std::count_if(took.begin(), took.end(), [](double t) { return std::abs(t) >= 1; });
  for (double& t : took) t = std::abs(t);
  std::sort(took.begin(), took.end());
  std::printf("  %d reads of all its results at once:%s %.0f MB added at the peak, %+.0f MB after\n", kReads,
              readFigures.c_str(), peak - before, residentMB(pid, "VmRSS:") - before);
  std::printf(
      "    %zu sign-ins of another account beside them, %td failed, %td over 1 s, median %.3f s, worst %.3f s\n",
      took.size(), failed, slow, took[took.size() / 2], took.back());

  // Reads that find nothing after going through every result, many at once.
  constexpr int kConcurrentReads = 64;
  const std::size_t descriptors = descriptorsOf(pid);
  const std::string none = R"({"date":"2100-01-01 00:00:00"})";
  const auto concurrentStart = Clock::now();
  std::vector<std::future<std::pair<int, std::size_t>>> readers;
  for (int i = 0; i < kConcurrentReads; ++i)
    readers.push_back(std::async(std::launch::async, [&] {
      return wholeCall(port, head("Tablet/GetQuizResults", none.size(), token) + none);
    }));
  std::map<int, int> statuses;
  for (auto& reader : readers) ++statuses[reader.get().first];
  std::string counts;
  for (const auto& [status, count] : statuses) counts += fmt::format(" {}x{}", count, status);
  std::printf("  %d reads at once:%s in %.2f s; %+td descriptors after them\n", kConcurrentReads, counts.c_str(),
              std::chrono::duration<double>(Clock::now() - concurrentStart).count(),
              std::ptrdiff_t(descriptorsOf(pid)) - std::ptrdiff_t(descriptors));

  // Well-formed, and within the values a parsed body may hold, as a hostile client sends them.
  std::string many = "[";
  for (int i = 0; i < 9000; ++i)
    many += std::string(i ? "," : "") +
            R"({"quizId":101,"score":11,"maxScore":11,"answersScore":"100.0000;100.0000;100.0000;100.0000",)"
            R"("questionsId":"10101;10102;10103;10104"})";
  many += "]";
  const auto start = Clock::now();
  const auto [status, size] = wholeCall(port, head("Tablet/SaveQuizResults", many.size(), token) + many);
  std::printf("  a call of 9000 results (%.1f MB): %d in %.3f s, %zu bytes of answer\n", double(many.size()) / 1e6,
              status, std::chrono::duration<double>(Clock::now() - start).count(), size);
  backend.stop();
  std::filesystem::remove_all(dir);
}

}  // namespace

int main(int argc, char** argv) {
  rlimit files{};
  getrlimit(RLIMIT_NOFILE, &files);
  files.rlim_cur = files.rlim_max;
  setrlimit(RLIMIT_NOFILE, &files);
  char filledDir[] = "/tmp/backend-bench-held-XXXXXX";
  if (!mkdtemp(filledDir)) return 0;
  const auto filled = std::filesystem::path(filledDir) / "sample_backend.sqlite3";
  const auto filling = Clock::now();
  storeHeldResults(filled);
  std::printf("%d results stored in %.1f s\n", kHeldResults,
              std::chrono::duration<double>(Clock::now() - filling).count());
  const bool heldOnly = argc > 1 && std::strcmp(argv[1], "--held-results") == 0;
  const std::string results = bigResult();
  const std::string junk = nlohmann::json::array({{{"quizId", 1}, {"date", std::string(kBig - 40, '1')}}}).dump();
  for (int run = 1; run <= 3; ++run) {
    heldResults(filled, run);
    if (heldOnly) continue;
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
  std::filesystem::remove_all(filledDir);
  return 0;
}
