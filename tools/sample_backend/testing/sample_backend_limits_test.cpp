// The sample backend as a program on a user's machine: no request ends it, state stays private and
// consistent, slow or large clients cannot starve the others.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include <nlohmann/json.hpp>

#include "model/error_response.h"
#include "sample_backend_process.h"
#include "store.h"
#include "support/temp_dir.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using json = nlohmann::json;

// A plain TCP connection to the backend, for what an HTTP client library would not send.
class RawConnection {
 public:
  explicit RawConnection(int port) : fd_(socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    timeval timeout{10, 0};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  }
  ~RawConnection() { close(fd_); }
  RawConnection(const RawConnection&) = delete;
  RawConnection& operator=(const RawConnection&) = delete;

  bool send(const std::string& bytes) {
    return connected_ && ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == ssize_t(bytes.size());
  }
  // The head of the answer (what comes until it ends, the backend closes or the receive times out).
  std::string receiveHead() {
    std::string text;
    char buffer[4096];
    for (ssize_t n; text.find("\r\n\r\n") == std::string::npos && (n = recv(fd_, buffer, sizeof buffer, 0)) > 0;)
      text.append(buffer, std::size_t(n));
    return text;
  }

 private:
  int fd_;
  bool connected_ = false;
};

struct Answer {
  int status = 0;
  std::string body;
};

class SampleBackendLimitsTest : public testing::Test {
 protected:
  void start(const std::vector<std::string>& options = {}) {
    backend_ = std::make_unique<SampleBackendProcess>(dir_.str(), options);
    ASSERT_GT(backend_->port(), 0);
  }
  Answer post(const std::string& path, const std::string& body, const std::string& token = "",
              const std::string& type = "application/json") {
    httplib::Client client("127.0.0.1", backend_->port());
    client.set_read_timeout(5);
    httplib::Headers headers;
    if (!token.empty()) headers = {{"Authorization", "Bearer " + token}, {"Authorization-Provider", "basic"}};
    auto result = client.Post(("/BrevantTest/" + path).c_str(), headers, body, type.c_str());
    return result ? Answer{result->status, result->body} : Answer{};
  }
  int get(const std::string& path, const std::string& token = "") {
    httplib::Client client("127.0.0.1", backend_->port());
    client.set_read_timeout(5);
    httplib::Headers headers;
    if (!token.empty()) headers = {{"Authorization", "Bearer " + token}, {"Authorization-Provider", "basic"}};
    auto result = client.Get(path.c_str(), headers);
    return result ? result->status : 0;
  }
  std::string signIn(const std::string& email = "demo@example.com", const std::string& password = "demo-pass") {
    auto answer = post("Account/TabletLogin", json{{"userName", email}, {"password", password}}.dump());
    EXPECT_EQ(answer.status, 200) << answer.body;
    return answer.status == 200 ? json::parse(answer.body)["token"].get<std::string>() : "";
  }
  static json registration(const std::string& email, const std::string& password, const std::string& confirm) {
    return {{"userName", email},
            {"firstName", "Kim"},
            {"lastName", "Lee"},
            {"password", password},
            {"confirmPassword", confirm}};
  }
  std::string log() {
    std::ifstream in(dir_.path() / "requests.log");
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  TempDir dir_{"sample-backend-limits"};
  std::unique_ptr<SampleBackendProcess> backend_;
};

TEST_F(SampleBackendLimitsTest, OverlongFieldsGetA400AndTheBackendLivesOn) {
  start();
  const std::string huge(40000, 'a');
  auto longName = registration(huge + "@example.com", "secret-1", "secret-1");
  EXPECT_EQ(post("Account/TabletRegister", longName.dump()).status, 400);
  longName["provider"] = "facebook";
  longName["token"] = "some-facebook-token";
  EXPECT_EQ(post("Account/TabletExternalRegister", longName.dump()).status, 400);
  const std::string token = signIn();
  EXPECT_EQ(post("Tablet/SaveQuizResults",
                 json::array({{{"quizId", 101}, {"score", 1}, {"maxScore", 2}, {"date", huge}}}).dump(), token)
                .status,
            400);
  EXPECT_EQ(post("Tablet/GetQuizResults", json{{"date", std::string(40000, '1')}}.dump(), token).status, 400);
  // Pages near the limits of a whole number.
  auto paged = post("Tablet/GetAvailableLectures", R"({"pageSize":4611686018427387904,"pageNumber":3})", token);
  EXPECT_EQ(paged.status, 200);
  EXPECT_EQ(paged.body, "[]");
  EXPECT_EQ(backend_->stop(), 0);
}

TEST_F(SampleBackendLimitsTest, TheStateIsPrivateAndServedByOneBackendWhichAHangupStops) {
  start();
  EXPECT_EQ(std::filesystem::status(dir_.path()).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_all);
  EXPECT_EQ(std::filesystem::status(dir_.path() / "sample_backend.sqlite3").permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);

  const pid_t first = backend_->pid();
  SampleBackendProcess second(dir_.str());
  EXPECT_EQ(second.port(), 0);
  EXPECT_NE(log().find("already running"), std::string::npos) << log();
  EXPECT_NE(log().find(std::to_string(first)), std::string::npos) << log();
  EXPECT_EQ(get("/BrevantTest/Tablet/GetSchools"), 200);

  kill(first, SIGHUP);
  int status = 0;
  const auto deadline = Clock::now() + 10s;
  while (waitpid(first, &status, WNOHANG) == 0 && Clock::now() < deadline) std::this_thread::sleep_for(20ms);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST_F(SampleBackendLimitsTest, BodiesPastTheCapOrHoldingTooMuchGet413) {
  start();
  const std::string token = signIn();
  RawConnection chunked(backend_->port());
  ASSERT_TRUE(chunked.send("POST /BrevantTest/Tablet/GetNews HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: Bearer " +
                           token +
                           "\r\nAuthorization-Provider: basic\r\nContent-Type: application/json\r\n"
                           "Transfer-Encoding: chunked\r\n\r\n"));
  const std::string chunk = "100000\r\n" + std::string(0x100000, ' ') + "\r\n";
  for (int i = 0; i < 9 && chunked.send(chunk); ++i) {
  }
  EXPECT_EQ(chunked.receiveHead().substr(0, 12), "HTTP/1.1 413");

  std::string lists = "[";
  for (int i = 0; i < 1000000; ++i) lists += i ? ",[]" : "[]";
  lists += "]";
  EXPECT_EQ(post("Tablet/SaveQuizResults", lists, token).status, 413);

  httplib::Client client("127.0.0.1", backend_->port());
  auto picture =
      client.Post("/BrevantTest/Account/TabletUploadProfilePicture",
                  {{"Authorization", "Bearer " + token}, {"Authorization-Provider", "basic"}},
                  httplib::MultipartFormDataItems{{"file", std::string(9 << 20, 'x'), "big.png", "image/png"}});
  ASSERT_TRUE(picture);
  EXPECT_EQ(picture->status, 413);
  auto error = ErrorResponse::decode(picture->body);
  ASSERT_TRUE(error && error->message) << picture->body;
  EXPECT_NE(error->message->find("picture is too large"), std::string::npos);
}

TEST_F(SampleBackendLimitsTest, SlowConnectionsNeitherHoldTheOthersNorStayOpen) {
  start();
  std::vector<std::unique_ptr<RawConnection>> slow;
  for (int i = 0; i < 64; ++i) {
    slow.push_back(std::make_unique<RawConnection>(backend_->port()));
    ASSERT_TRUE(slow.back()->send("G"));
  }
  std::this_thread::sleep_for(300ms);
  const auto before = Clock::now();
  EXPECT_EQ(get("/BrevantTest/Tablet/GetSchools"), 200);
  EXPECT_LT(Clock::now() - before, 1s);

  // One byte a second never finishes a head: the deadline ends the connection.
  RawConnection trickle(backend_->port());
  const auto opened = Clock::now();
  const std::string head = "GET /BrevantTest/Tablet/GetSchools HTTP/1.1\r\n";
  std::size_t sent = 0;
  while (sent < head.size() && trickle.send(head.substr(sent, 1)) && Clock::now() - opened < 15s) {
    ++sent;
    std::this_thread::sleep_for(1s);
  }
  EXPECT_LT(sent, head.size());
  EXPECT_LT(Clock::now() - opened, 10s);
}

TEST_F(SampleBackendLimitsTest, TokensExpireAfterTheirLifetime) {
  start({"--token-lifetime", "1"});
  const std::string token = signIn();
  EXPECT_EQ(get("/BrevantTest/Tablet/GetUserProfile", token), 200);
  std::this_thread::sleep_for(2100ms);
  EXPECT_EQ(get("/BrevantTest/Tablet/GetUserProfile", token), 401);
}

TEST_F(SampleBackendLimitsTest, AnOlderDatabaseKeepsItsSignedInClientsAndPasswords) {
  const std::string plainToken = "0123456789abcdef0123456789abcdef0123456789abcdef";
  const PasswordHash old = PasswordHash::of("old-secret", 10000);
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((dir_.path() / "sample_backend.sqlite3").c_str(), &db), SQLITE_OK);
    const std::string sql =
        "CREATE TABLE accounts(id INTEGER PRIMARY KEY, email TEXT NOT NULL UNIQUE COLLATE NOCASE, "
        "first_name TEXT NOT NULL, last_name TEXT NOT NULL, salt TEXT, password_hash TEXT);"
        "CREATE TABLE tokens(token TEXT PRIMARY KEY, account INTEGER NOT NULL);"
        "INSERT INTO accounts VALUES(1, 'old@example.com', 'Old', 'Timer', '" +
        old.salt + "', '" + old.hash + "'); INSERT INTO tokens VALUES('" + plainToken + "', 1);";
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
  }
  start();
  EXPECT_EQ(get("/BrevantTest/Tablet/GetUserProfile", plainToken), 200);
  signIn("old@example.com", "old-secret");
  backend_->stop();

  Store store(dir_.path() / "sample_backend.sqlite3");
  EXPECT_EQ(store.password(1)->iterations, 1000);  // the tests' count, from the command line
  EXPECT_TRUE(store.password(1)->verifies("old-secret"));
  EXPECT_EQ(store.accountForToken("basic", plainToken), 1);
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((dir_.path() / "sample_backend.sqlite3").c_str(), &db), SQLITE_OK);
  int plainRows = -1;
  sqlite3_exec(
      db, ("SELECT count(*) FROM tokens WHERE token = '" + plainToken + "'").c_str(),
      [](void* count, int, char** values, char**) { return *static_cast<int*>(count) = std::atoi(values[0]), 0; },
      &plainRows, nullptr);
  sqlite3_close(db);
  EXPECT_EQ(plainRows, 0);
}

TEST_F(SampleBackendLimitsTest, CallsTakeJsonOnlyAndProvidersSendBrowsersToLoopbackOnly) {
  start();
  const std::string signInBody = json{{"userName", "demo@example.com"}, {"password", "demo-pass"}}.dump();
  EXPECT_EQ(post("Account/TabletLogin", signInBody, "", "text/plain").status, 415);
  EXPECT_EQ(post("Account/TabletLogin", signInBody, "", "application/x-www-form-urlencoded").status, 415);
  EXPECT_EQ(post("Account/TabletLogin", signInBody, "", "Application/JSON ; charset=utf-8").status, 200);

  for (const char* back : {"http://127.0.0.1:80@evil.example/cb", "http://127.0.0.1.evil.example:80/cb",
                           "http://127.0.0.1:4711/cb#x", "https://127.0.0.1:4711/cb"}) {
    const std::string query = httplib::detail::encode_query_param(back);
    EXPECT_EQ(get("/facebook/dialog/oauth?client_id=app&redirect_uri=" + query), 400) << back;
    EXPECT_EQ(get("/zedodo/o/oauth2/auth?response_type=code&client_id=c&redirect_uri=" + query), 400) << back;
  }
  httplib::Client client("127.0.0.1", backend_->port());
  auto dialog = client.Get("/facebook/dialog/oauth?client_id=app&redirect_uri=http%3A%2F%2F127.0.0.1%3A4711%2Fcb");
  ASSERT_TRUE(dialog);
  EXPECT_EQ(dialog->status, 302);
}

TEST_F(SampleBackendLimitsTest, CanonicallyEqualPasswordsConfirmEachOtherAndTheHashTakesThemAsSent) {
  start();
  const std::string precomposed = "caf\xC3\xA9-secret";
  const std::string decomposed = "cafe\xCC\x81-secret";
  EXPECT_EQ(post("Account/TabletRegister", registration("kim@example.com", precomposed, decomposed).dump()).status,
            200);
  signIn("kim@example.com", precomposed);
  EXPECT_EQ(post("Account/TabletLogin", json{{"userName", "kim@example.com"}, {"password", decomposed}}.dump()).status,
            401);
}

}  // namespace
