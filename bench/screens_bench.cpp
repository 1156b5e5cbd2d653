// Screens with thousands of items, driven as a student would through the console driver, against
// an in-process backend on 127.0.0.1 whose lists are as long as each figure asks. Each figure runs
// in a process of its own (this program again, with the figure's name), so that the memory one
// leaves behind does not hide what the next one adds; times are the best of several rounds, memory
// is what the first round added to the resident set once the allocator gave back what it holds
// free (or the process's peak, where stated).
//
// `screens_bench FIGURE` runs one figure alone: quizzes, grid, search, details, achievements, news,
// question;
// with SCREENS_BENCH_SHOW set, every screen it passes through goes to standard error.
#include <fmt/format.h>
#include <httplib.h>
#include <malloc.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "bench_timing.h"
#include "main/application_classes.h"
#include "main/developer_log.h"
#include "platform/frameworks/image_loading.h"
#include "platform/ui/console_driver.h"
#include "platform/ui/ui_application_main.h"
#include "support/temp_dir.h"

namespace {

using json = nlohmann::json;

// As the sample backend sends it; the server compresses a plain "application/json" reply, and that
// would be its work, not the client's, that the figures measure.
constexpr const char* kJson = "application/json; charset=utf-8";

// The start of a PNG file: all an image here is read for (its size).
std::string pngBytes() {
  std::string bytes("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\0\0\x30\0\0\0\x30\x08\x06\0\0\0", 29);
  return bytes;
}

std::string lectureRecord(int id) {
  return fmt::format(
      R"({{"id":{},"name":"Lecture {} of the term","color":"teal_amber","teacherName":"Teacher",)"
      R"("description":"About lecture {}.","isDeleted":false,"version":1,"picture":"Media/lecture-{}.png"}})",
      id, id, id, id);
}

std::string curriculumRecord(int id, bool picture) {
  return fmt::format(R"({{"id":{},"lectureId":1,"name":"Curriculum {}","description":"What curriculum {} holds.",)"
                     R"("isDeleted":false,"version":1{},"lectureName":"Lecture 1 of the term"}})",
                     id, id, id, picture ? fmt::format(R"(,"picture":"Media/curriculum-{}.png")", id) : "");
}

template <class F>
std::string list(int count, F&& record) {
  std::string text = "[";
  for (int i = 1; i <= count; ++i) text += (i > 1 ? "," : "") + record(i);
  return text + "]";
}

// What the backend holds for one figure; set before the client starts.
struct Content {
  int lectures = 4;
  int quizCurricula = 1;    // lecture 1's quizzes, one per curriculum
  int detailCurricula = 4;  // the curricula of lecture 1's details
  int achievements = 3;
  int news = 4;
  int answers = 0;  // of the one question of curriculum 1's quiz, which it has only with answers
};

class Backend {
 public:
  explicit Backend(const Content& content) {
    setLectures(content.lectures);
    withQuiz_ = "[" + lectureRecord(1) + "]";
    quizes_ = list(content.quizCurricula, [](int i) {
      return fmt::format(R"({{"id":{},"curriculumId":{},"name":"Quiz {}","isDeleted":false,)"
                         R"("quizLevel":{{"id":1,"name":"Standard","two":50,"three":63,"four":75,"five":88}}}})",
                         i, i, i);
    });
    curricula_ = list(content.detailCurricula, [](int i) { return curriculumRecord(i, true); });
    achievements_ = list(content.achievements, [](int i) {
      return fmt::format(R"({{"id":{},"type":"all","name":"Achievement {}","description":"Earned for step {}.",)"
                         R"("picture":"Media/achievement-{}.png"}})",
                         i, i, i, i);
    });
    news_ = list(content.news, [](int i) {
      return fmt::format(R"({{"id":{},"title":"News item {}","description":"What happened on day {}.",)"
                         R"("longText":"<p>The whole story of day {}, told at some length for the reader.</p>",)"
                         R"("createDate":"2024-09-02 08:00:00","color":"blue_indigo","lectureId":1}})",
                         i, i, i, i);
    });
    setAnswers(content.answers);
    routes();
    int listening = -1;
    server_.set_socket_options([&listening](socket_t socket) {
      int yes = 1;
      setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
      listening = socket;
    });
    port_ = server_.bind_to_any_port("127.0.0.1");
    // The server's own queue of connections not yet accepted holds five: a thousand connections
    // opened at once would wait for their SYN to be sent again, seconds later.
    if (listening >= 0) ::listen(listening, 4096);
    thread_ = std::thread([this] { server_.listen_after_bind(); });
  }
  ~Backend() {
    server_.stop();
    thread_.join();
  }
  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/api/"; }
  int pictureGets() const { return pictureGets_.load(); }
  // The list is made for each request: kept here, it would count as the client's memory.
  void setLectures(int count) { lectures_ = count; }
  void setAnswers(int count) { answers_ = count; }

 private:
  void post(const std::string& path, std::function<std::string(const json&)> answer) {
    server_.Post("/api/" + path, [answer](const httplib::Request& request, httplib::Response& response) {
      auto body = json::parse(request.body, nullptr, false);
      response.set_content(answer(body.is_object() ? body : json::object()), kJson);
    });
  }
  static std::optional<int> id(const json& body, const char* key) {
    return body.contains(key) && body[key].is_number_integer() ? std::optional(body[key].get<int>()) : std::nullopt;
  }
  void routes() {
    server_.set_tcp_nodelay(true);
    // One request per connection: the client opens as many at once as it has requests running
    // (a thousand), and a worker waiting on an idle one would leave the others queued.
    server_.set_keep_alive_max_count(1);
    server_.new_task_queue = [] { return new httplib::ThreadPool(16); };
    post("Account/TabletLogin",
         [](const json&) { return R"({"token":"bench-token","userName":"demo@example.com","provider":"basic"})"; });
    post("Tablet/GetAvailableLectures", [this](const json&) { return list(lectures_.load(), lectureRecord); });
    post("Tablet/GetLecturesWithQuiz", [this](const json&) { return withQuiz_; });
    post("Tablet/GetQuizes", [this](const json& body) {
      const int answers = answers_.load();
      if (body.value("all", false)) return quizWithQuestion(answers);
      if (id(body, "curriculumId")) return answers > 0 ? quizWithQuestion(0) : std::string("[]");
      return quizes_;
    });
    post("Tablet/GetCurriculums", [this](const json& body) {
      auto curriculum = id(body, "curriculumId");
      return curriculum ? "[" + curriculumRecord(*curriculum, true) + "]" : curricula_;
    });
    // Every other curriculum has one best result.
    post("Tablet/GetBestQuizResults", [](const json& body) {
      auto curriculum = id(body, "curriculumId").value_or(0);
      return curriculum % 2 ? fmt::format(R"([{{"quizId":{},"score":1,"maxScore":2}}])", curriculum) : "[]";
    });
    post("Tablet/GetAchievements", [this](const json&) { return achievements_; });
    post("Tablet/GetStudentAchievements", [this](const json&) { return achievements_; });
    post("Tablet/GetNews", [this](const json&) { return news_; });
    post("Tablet/GetDocuments", [](const json&) { return "[]"; });
    post("Tablet/GetQuizResults", [](const json&) { return "[]"; });
    server_.Get("/api/Tablet/GetUserProfile", [](const httplib::Request&, httplib::Response& response) {
      response.set_content(
          R"({"isConfirmed":true,"firstName":"Alex","lastName":"Morgan","id":"1",)"
          R"("userName":"demo@example.com","school":[],"hasFacebook":false,"hasZedodo":false,"hasPassword":true})",
          kJson);
    });
    server_.Get("/api/Media/.*", [this](const httplib::Request&, httplib::Response& response) {
      ++pictureGets_;
      response.set_content(pngBytes(), "image/png");
    });
  }

  // Quiz 1 alone, with one question of `answers` answers (the first correct), or as a list shows it.
  static std::string quizWithQuestion(int answers) {
    if (answers == 0) {
      return R"([{"id":1,"curriculumId":1,"name":"Quiz 1","isDeleted":false,)"
             R"("quizLevel":{"id":1,"name":"Standard","two":50,"three":63,"four":75,"five":88}}])";
    }
    return fmt::format(
        R"([{{"id":1,"curriculumId":1,"name":"Quiz 1","isDeleted":false,)"
        R"("quizLevel":{{"id":1,"name":"Standard","two":50,"three":63,"four":75,"five":88}},"quizQuestion":[)"
        R"({{"id":1,"quizId":1,"isDeleted":false,"questionDataType":"text","type":"oneCorrect","order":1,)"
        R"("maxScore":2,"questionText":"Which of these answers is the right one?","questionAnswer":{}}}]}}])",
        list(answers, [](int i) {
          return fmt::format(R"({{"id":{},"quizQuestionId":1,"isCorrect":{},"answerText":"Answer {} of the long )"
                             R"(question, one line","pairText":""}})",
                             i, i == 1, i);
        }));
  }

  httplib::Server server_;
  std::thread thread_;
  int port_ = 0;
  std::atomic<int> pictureGets_{0};
  std::atomic<int> lectures_{0};
  std::atomic<int> answers_{0};
  std::string withQuiz_, quizes_, curricula_, achievements_, news_;
};

long statusKilobytes(const char* field) {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::string(field).size());
  }
  return 0;
}
// What is kept alive: memory the allocator holds free goes back first.
double residentMB() {
  malloc_trim(0);
  return statusKilobytes("VmRSS:") / 1024.0;
}
double peakMB() { return statusKilobytes("VmHWM:") / 1024.0; }

// The client, signed in, in a data folder of its own; commands print into nothing.
class Client {
 public:
  explicit Client(const Content& content) : backend_(content) {
    setenv("DORVALE_RESOURCES", DORVALE_SOURCE_RESOURCES, 1);
    setenv("DORVALE_DATA_DIR", data_.str().c_str(), 1);
    setenv("DORVALE_BACKEND_URL", backend_.url().c_str(), 1);
    if (!std::getenv("SCREENS_BENCH_SHOW")) unsetenv("DORVALE_LOG");
    routeDeveloperLog();
    registerApplicationClasses();
    UIApplicationLaunch(std::nullopt, "AppDelegate");
    driver_ = std::make_unique<ConsoleDriver>(out_);
    driver_->setSettleTimeout(600);
  }
  double run(const std::string& command) {
    return seconds([&] { driver_->execute(command); });
  }
  double signIn() {
    run("type emailTextField demo@example.com");
    run("type passwordTextField demo-pass");
    return run("tap loginButton");
  }
  void signOut() {
    run("tab 4");
    run("tap Sign out");
  }
  Backend& backend() { return backend_; }

 private:
  TempDir data_{"screens_bench"};
  Backend backend_;
  // What the driver prints goes to standard error or nowhere: kept, it would count as the client's.
  class Sink : public std::streambuf {
    std::streamsize xsputn(const char* text, std::streamsize count) override {
      if (show_) std::fwrite(text, 1, static_cast<std::size_t>(count), stderr);
      return count;
    }
    int overflow(int c) override {
      if (show_ && c != EOF) std::fputc(c, stderr);
      return c == EOF ? 0 : c;
    }
    bool show_ = std::getenv("SCREENS_BENCH_SHOW") != nullptr;
  } sink_;
  std::ostream out_{&sink_};
  std::unique_ptr<ConsoleDriver> driver_;
};

constexpr int kRounds = 3;

void line(const char* what, double value, const char* unit, const char* target) {
  std::printf("%s: %.4g %s (target %s)\n", what, value, unit, target);
}

int quizzes() {
  constexpr int kCurricula = 1000;
  Client client({.quizCurricula = kCurricula});
  client.signIn();
  client.run("tab 1");
  double best = 1e9, added = 0;
  int gets = 0;
  for (int round = 0; round < kRounds; ++round) {
    ImageCache::shared().removeAll();
    const double before = residentMB();
    const int getsBefore = client.backend().pictureGets();
    best = std::min(best, client.run("select 0"));
    if (round == 0) {
      added = residentMB() - before;
      gets = client.backend().pictureGets() - getsBefore;
    }
    client.run("back");
  }
  line("Quizzes tab, lecture with 1,000 pictured curricula: time to settled screen", best, "s", "<= 1 s");
  line("same: resident memory added", added, "MB", "<= 60 MB");
  line("picture GET requests the backend received for it", gets, "", "<= N + 10 = 1010");
  return 0;
}

// Resident memory once a first sign-in has settled the grid on `lectures` lectures, from a process
// of its own (this program again): what the first screens load is the same at any count.
double residentAfterSignIn(int lectures) {
  const std::string command = "'/proc/" + std::to_string(getpid()) + "/exe' resident " + std::to_string(lectures);
  double resident = 0;
  if (FILE* child = popen(command.c_str(), "r")) {
    if (std::fscanf(child, "%lf", &resident) != 1) resident = 0;
    pclose(child);
  }
  return resident;
}

int resident(int lectures) {
  Client client({.lectures = lectures});
  client.signIn();
  std::printf("%.4f\n", residentMB());
  return 0;
}

int grid() {
  // What the grid keeps per lecture: the difference between 100 and 10,000 lectures.
  const double small = residentAfterSignIn(100), large = residentAfterSignIn(10000);
  if (small <= 0 || large <= 0) return 1;
  std::printf("  resident after sign-in: 100 lectures %.1f MB, 10,000 lectures %.1f MB\n", small, large);
  line("memory added per lecture at 10,000", (large - small) * 1024 / 9900, "KB", "<= 2 KB");
  Client client({.lectures = 10000});
  std::map<int, double> best{{1000, 1e9}, {10000, 1e9}};
  best[10000] = client.signIn();
  client.signOut();
  for (int round = 0; round < kRounds; ++round) {
    for (int count : {1000, 10000}) {
      client.backend().setLectures(count);
      best[count] = std::min(best[count], client.signIn());
      client.signOut();
    }
  }
  std::printf("  sign-in to settled grid: 1,000 lectures %.3f s, 10,000 lectures %.3f s\n", best[1000], best[10000]);
  line("lecture grid: time(10,000) / time(1,000), sign-in to settled grid", best[10000] / best[1000], "", "<= 11");
  return 0;
}

// p99 of keystrokes typed into the grid's search bar and erased again, on 10,000 lectures.
int search() {
  constexpr int kKeystrokes = 200;
  Client client({.lectures = 10000});
  client.signIn();
  std::vector<double> times;
  for (int i = 0; i < kKeystrokes / 2; ++i) {
    times.push_back(client.run(std::string("type searchBar ") + static_cast<char>('a' + i % 26)));
    times.push_back(client.run("type searchBar"));
  }
  std::sort(times.begin(), times.end());
  const double p99 = times[times.size() * 99 / 100 - 1];
  std::printf("  keystroke median %.1f ms, slowest %.1f ms\n", median(times) * 1000, times.back() * 1000);
  line("search keystroke on 10,000 lectures, p99 over 200 keystrokes typed and erased", p99 * 1000, "ms", "<= 16 ms");
  return 0;
}

// One screen's first appearance after sign-in, then again after leaving it: best time, and the
// memory the first one added.
std::pair<double, double> appearance(Client& client, const std::string& open, const std::string& leave) {
  double best = 1e9, added = 0;
  for (int round = 0; round < kRounds; ++round) {
    ImageCache::shared().removeAll();
    const double before = residentMB();
    best = std::min(best, client.run(open));
    if (round == 0) added = residentMB() - before;
    client.run(leave);
  }
  return {best, added};
}

// A screen of 2,000 items: its time and the memory it adds.
int listScreen(const Content& content, const std::string& open, const std::string& leave, const std::string& name,
               const char* timeTarget) {
  Client client(content);
  client.signIn();
  auto [time, added] = appearance(client, open, leave);
  line((name + ": time").c_str(), time, "s", timeTarget);
  line((name + ": memory added").c_str(), added, "MB", "<= 8 MB");
  return 0;
}

int details() {
  return listScreen({.detailCurricula = 2000}, "select 0", "back", "lecture details, 2,000 curricula", "<= 0.5 s");
}

int achievements() {
  return listScreen({.achievements = 2000}, "tab 3", "tab 0", "achievements, 2,000 items", "<= 0.3 s");
}

int news() {
  Client client({.news = 100000});
  client.signIn();
  auto [time, added] = appearance(client, "tab 2", "tab 0");
  std::printf("  resident memory added by the first showing %.0f MB\n", added);
  line("100,000 news items: time", time, "s", "<= 3 s");
  line("100,000 news items: peak memory", peakMB(), "MB", "<= 400 MB");
  return 0;
}

// A question of 10,000 and of 100,000 answers: opening the quiz, and choosing an answer (the
// screen sizes and draws every answer again).
int question() {
  constexpr int kSmall = 10000, kLarge = 100000;
  Client client({.answers = kSmall});
  client.signIn();
  client.run("tab 1");
  client.run("select 0");
  client.run("select 0");
  std::map<int, double> open{{kSmall, 1e9}, {kLarge, 1e9}}, choose{{kSmall, 1e9}, {kLarge, 1e9}};
  for (int round = 0; round < kRounds; ++round) {
    for (int count : {kSmall, kLarge}) {
      client.backend().setAnswers(count);
      open[count] = std::min(open[count], client.run("select 0"));
      choose[count] = std::min(choose[count], client.run("select 1 " + std::to_string(count / 2)));
      client.run("back");
    }
  }
  std::printf("  10,000 answers: open %.3f s, choose %.3f s\n", open[kSmall], choose[kSmall]);
  line("question of 100,000 answers: time to open the quiz", open[kLarge], "s", "<= 2 s");
  line("question of 100,000 answers: time to choose an answer", choose[kLarge], "s", "<= 0.3 s");
  line("question: time(100,000) / time(10,000), opening", open[kLarge] / open[kSmall], "", "<= 12");
  line("question: time(100,000) / time(10,000), choosing", choose[kLarge] / choose[kSmall], "", "<= 12");
  return 0;
}

const std::map<std::string, int (*)()> kFigures = {
    {"quizzes", quizzes}, {"grid", grid}, {"search", search},     {"details", details},
    {"achievements", achievements}, {"news", news},  {"question", question},
};

}  // namespace

int main(int argc, char* argv[]) {
  if (argc > 2 && std::string(argv[1]) == "resident") return resident(std::atoi(argv[2]));
  if (argc > 1) {
    auto figure = kFigures.find(argv[1]);
    if (figure == kFigures.end()) {
      std::printf("screens_bench: no figure named %s\n", argv[1]);
      return 1;
    }
    return figure->second();
  }
  std::printf("screens_bench: long lists on the console screens, in-process backend on 127.0.0.1, best of %d rounds\n",
              kRounds);
  int failed = 0;
  for (const char* name : {"quizzes", "grid", "search", "details", "achievements", "news", "question"}) {
    std::fflush(stdout);
    const std::string command = "'/proc/" + std::to_string(getpid()) + "/exe' " + name;
    if (std::system(command.c_str()) != 0) {
      std::printf("screens_bench: the %s figure failed\n", name);
      ++failed;
    }
  }
  return failed ? 1 : 0;
}
