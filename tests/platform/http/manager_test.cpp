#include "platform/http/manager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/foundation/run_loop.h"
#include "platform/http/http_error.h"
#include "platform/net/url_error.h"
#include "support/fake_backend.h"
#include "support/tls_cert.h"
#include "support/virtual_time.h"

namespace {

struct StringAnswer {
  int calls = 0;
  std::optional<URLRequest> request;
  std::shared_ptr<const HTTPURLResponse> response;
  std::optional<Result<std::string>> result;

  Request::StringHandler handler() {
    return [this](const std::optional<URLRequest>& req, const std::shared_ptr<const HTTPURLResponse>& resp,
                  const Result<std::string>& res) {
      EXPECT_TRUE(RunLoop::isMainThread());
      *this = {calls + 1, req, resp, res};
    };
  }
};

class ManagerTest : public ::testing::Test {
 protected:
  VirtualTime time;
  FakeBackend server;
  std::shared_ptr<Manager> client = Manager::make(URLSessionConfiguration::ephemeralSessionConfiguration());

  // Validates `request`, reads its answer as text and waits for the one call, on the main loop.
  StringAnswer answer(const std::shared_ptr<Request>& request, std::optional<StringEncoding> encoding) {
    StringAnswer answer;
    request->validate()->responseString(encoding, answer.handler());
    EXPECT_TRUE(time.runUntil([&] { return answer.calls > 0; }));
    time.runUntilIdle();
    EXPECT_EQ(answer.calls, 1);
    return answer;
  }
  StringAnswer get(const std::string& path, std::optional<StringEncoding> encoding = StringEncoding::UTF8) {
    return answer(client->request(Method::GET, server.url(path)), encoding);
  }
  StringAnswer send(const URLRequest& urlRequest) { return answer(client->request(urlRequest), StringEncoding::UTF8); }
};

TEST_F(ManagerTest, ValidateAcceptsOnly2xxAndFailuresKeepBodyAndResponse) {
  server.reply("PUT", "/ok", {.status = 201, .body = "{\"a\":1}", .contentType = "application/json"});
  server.reply("GET", "/denied", {.status = 401, .body = "{\"errorCode\":5}", .contentType = "application/json"});
  server.reply("GET", "/boom", {.status = 503, .body = "<html>down</html>", .contentType = "text/html"});

  // A prepared request goes out unchanged.
  URLRequest put(*URL::URLWithString(server.url("ok?x=1")));
  put.httpMethod = "PUT";
  put.setValue("Bearer t", "Authorization");
  put.httpBody = Data::fromString("{\"n\":1}");
  auto ok = send(put);
  ASSERT_TRUE(ok.result->isSuccess());
  EXPECT_EQ(std::tuple(ok.result->value(), ok.response->statusCode(), ok.request->url->absoluteString()),
            std::tuple("{\"a\":1}", 201, server.url("ok?x=1")));
  const auto sent = server.lastRequest();
  EXPECT_EQ(std::tuple(sent->method, sent->path, sent->query, sent->body, sent->header("Authorization")),
            std::tuple("PUT", "/ok", "x=1", "{\"n\":1}", "Bearer t"));

  for (auto [path, status, body] :
       {std::tuple{"denied", 401, "{\"errorCode\":5}"}, {"boom", 503, "<html>down</html>"}}) {
    auto failed = get(path);
    ASSERT_TRUE(failed.result->isFailure()) << path;
    EXPECT_EQ(
        std::tuple(failed.response->statusCode(), failed.result->data(),
                   failed.result->error()->localizedDescription()),
        std::tuple(status, Data::fromString(body), "Response status code was unacceptable: " + std::to_string(status)));
  }
}

// The session's failure codes are its own tests'; here: a failed transfer hands over no response.
TEST_F(ManagerTest, NoAnswerGivesTheErrorAlone) {
  server.reply("GET", "/cut", {.body = std::string(50000, 'c'), .deflate = true, .resetAfterBodyBytes = 30});
  std::vector<std::pair<std::string, long>> cases = {{server.url("cut"), NSURLErrorNetworkConnectionLost}};
  auto certificate = SelfSignedCertificate::make();
  std::optional<FakeBackend> tls;
  if (certificate) tls.emplace(FakeBackend::TLS{certificate->certificatePath(), certificate->privateKeyPath()});
  if (tls) cases.emplace_back(tls->url("x"), NSURLErrorServerCertificateUntrusted);
  for (const auto& [url, code] : cases) {
    auto answer = send(URLRequest(*URL::URLWithString(url)));
    ASSERT_TRUE(answer.result && answer.result->isFailure() && answer.request);
    EXPECT_EQ(std::tuple(answer.response, answer.result->data().has_value(), answer.result->error()->domain,
                         answer.result->error()->code),
              std::tuple(nullptr, false, NSURLErrorDomain, code))
        << url;
  }

  // An address that is no URL: still one answer, later, with the method kept for the log.
  StringAnswer invalid;
  client->request(Method::POST, "http://127.0.0.1:bad port/")->responseString(std::nullopt, invalid.handler());
  EXPECT_EQ(invalid.calls, 0);
  time.runUntilIdle();
  time.runUntilIdle();
  ASSERT_EQ(invalid.calls, 1);
  EXPECT_EQ(std::tuple(invalid.response, invalid.result->data().has_value(), invalid.result->error()->code,
                       invalid.request->httpMethod, invalid.request->url.has_value()),
            std::tuple(nullptr, false, NSURLErrorBadURL, "POST", false));
}

TEST_F(ManagerTest, RedirectsAreFollowedButNeverLeaveHttps) {
  EXPECT_EQ(client->session()->configuration().maximumResponseBodySize, 64 << 20);

  // Following is the session's (and its tests'); the client only refuses to leave https. No trusted
  // https server here: the session's question is put while a login is in flight.
  server.reply("POST", "/login", {.body = "late", .delay = 5});
  auto login = client->request(Method::POST, server.url("login"));
  ASSERT_TRUE(server.waitForRequestCount(1));
  std::shared_ptr<URLSessionTask> task;
  client->session()->getTasksWithCompletionHandler([&](auto data, auto, auto) { task = data.at(0); });
  ASSERT_TRUE(time.runUntil([&] { return task != nullptr; }));
  auto follows = [&](const char* from, const std::string& to) {
    std::optional<std::optional<URLRequest>> decision;
    auto response = std::make_shared<HTTPURLResponse>(*URL::URLWithString(from), 307, "HTTP/1.1", HTTPHeaderFields{});
    client->session()->delegate()->willPerformHTTPRedirection(client->session(), task, response,
                                                              URLRequest(*URL::URLWithString(to)),
                                                              [&](std::optional<URLRequest> r) { decision = r; });
    return decision.value().has_value();
  };
  EXPECT_TRUE(follows("http://127.0.0.1/login", server.url("here")));
  EXPECT_TRUE(follows("https://127.0.0.1/login", "https://127.0.0.1/secure"));
  EXPECT_FALSE(follows("https://127.0.0.1/login", server.url("clear")));
  auto refused = answer(login, std::nullopt).result->error();
  EXPECT_EQ(std::tie(refused->domain, refused->code),
            std::tuple(NSURLErrorDomain, NSURLErrorAppTransportSecurityRequiresSecureConnection));
  EXPECT_EQ(refused->userInfo.at(NSURLErrorFailingURLStringErrorKey), Value(server.url("clear")));
}

TEST_F(ManagerTest, ManyRequestsInFlightEachAnswerOnceOnTheMainLoop) {
  server.reply("GET", "/a", {.body = "a", .delay = 0.05});
  server.reply("GET", "/b", {.body = "b"});
  std::vector<StringAnswer> answers(8);
  for (std::size_t i = 0; i < answers.size(); ++i) {
    client->request(Method::GET, server.url(i % 2 ? "a" : "b"))->responseString(std::nullopt, answers[i].handler());
  }
  ASSERT_TRUE(time.runUntil([&] { return std::ranges::all_of(answers, [](auto& a) { return a.calls > 0; }); }));
  time.runUntilIdle();
  for (std::size_t i = 0; i < answers.size(); ++i)
    EXPECT_EQ(std::tuple(answers[i].calls, answers[i].result->value()), std::tuple(1, i % 2 ? "a" : "b"));
}

TEST_F(ManagerTest, DestroyingTheClientDropsAnswersStillToCome) {
  server.reply("GET", "/slow", {.body = "late", .delay = 0.2});
  StringAnswer answer;
  client->request(Method::GET, server.url("slow"))->responseString(std::nullopt, answer.handler());
  ASSERT_TRUE(server.waitForRequestCount(1));
  client.reset();
  time.runUntil([] { return false; }, 0.5);
  EXPECT_EQ(answer.calls, 0);
}

// One picture part, in memory or streamed through a file that is removed afterwards; the answer is
// not validated, so a 500 with a text body is a success.
TEST_F(ManagerTest, UploadsSendTheMultipartPartAsBuilt) {
  server.reply("POST", "/Account/UploadProfilePicture", {.status = 500, .body = "oops"});
  const std::vector<std::pair<Data, std::uint64_t>> rows = {
      {Data(std::vector<std::uint8_t>{0xff, 0xd8, 0xff, 0x00, '\r', '\n', '-', '-', 0x7f}),
       HTTPClient::MultipartFormDataEncodingMemoryThreshold},
      {Data::fromString(std::string(4096, 'p')), 1024}};
  for (std::size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(i);
    const Data& picture = rows[i].first;
    const std::uint64_t threshold = rows[i].second;
    std::optional<HTTPClient::MultipartFormDataEncodingResult> encoded;
    int encodingCalls = 0;
    StringAnswer answer;
    client->upload(
        Method::POST, server.url("Account/UploadProfilePicture"),
        {{"Authorization", "Bearer tok"}, {"Authorization-Provider", "basic"}},
        [&](MultipartFormData& form) { form.append(picture, "file", "profilePic.JPEG", "image/JPEG"); }, threshold,
        [&](const HTTPClient::MultipartFormDataEncodingResult& result) {
          ++encodingCalls;
          EXPECT_TRUE(RunLoop::isMainThread());
          encoded = result;
          if (result.isSuccess()) result.request->responseString(std::nullopt, answer.handler());
        });
    EXPECT_EQ(encodingCalls, 0);
    ASSERT_TRUE(time.runUntil([&] { return answer.calls > 0; }));
    time.runUntilIdle();
    EXPECT_EQ(std::tuple(encodingCalls, answer.calls, answer.result->value(), answer.response->statusCode()),
              std::tuple(1, 1, "oops", 500));
    ASSERT_TRUE(encoded && encoded->isSuccess());
    EXPECT_EQ(std::pair(encoded->streamingFromDisk, encoded->streamFileURL.has_value()), std::pair(i == 1, i == 1));
    EXPECT_TRUE(!encoded->streamFileURL || !std::filesystem::exists(encoded->streamFileURL->path()));

    // The parts come apart only along the boundary the Content-Type names.
    EXPECT_FALSE(answer.request->httpBody.has_value());
    ASSERT_EQ(server.requestCount(), i + 1);
    const auto received = *server.lastRequest();
    EXPECT_EQ(std::tuple(received.method, received.header("Authorization"), received.header("Authorization-Provider"),
                         received.parts.size()),
              std::tuple("POST", "Bearer tok", "basic", 1u));
    const auto& part = received.parts.at(0);
    EXPECT_EQ(std::tie(part.name, part.filename, part.contentType, part.content),
              std::tuple("file", "profilePic.JPEG", "image/JPEG", picture.toString()));
  }
}

}  // namespace
