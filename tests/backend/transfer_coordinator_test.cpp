#include "backend/transfer_coordinator.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "backend/fake_authentication.h"
#include "model/empty_payload.h"
#include "model/error_response.h"
#include "model/login_request.h"
#include "model/login_response.h"
#include "model/mappable_array.h"
#include "model/school_response.h"
#include "platform/foundation/run_loop.h"
#include "platform/frameworks/xcg_logger.h"
#include "platform/http/manager.h"
#include "support/fake_backend.h"
#include "support/virtual_time.h"

namespace {

// Keeps every request as the coordinator prepared it.
class RecordingCoordinator : public TransferCoordinator {
 public:
  using TransferCoordinator::TransferCoordinator;
  void processRequest(Method method, const URLRequest& request, AnswerHandler answer) override {
    prepared.push_back(request);
    TransferCoordinator::processRequest(method, request, std::move(answer));
  }
  std::vector<URLRequest> prepared;
};

template <class T>
struct Reply {
  int calls = 0;
  std::optional<T> value;
  std::optional<TransferError<ErrorResponse>> error;
  TransferCoordinator::ReplyCompletion<T, ErrorResponse> completion() {
    return [this](std::optional<T> v, std::optional<TransferError<ErrorResponse>> e) {
      EXPECT_TRUE(RunLoop::isMainThread());
      ++calls;
      value = std::move(v);
      error = std::move(e);
    };
  }
};

class TransferCoordinatorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    coordinator->setAuthenticationManager(auth);
    XCGLogger::defaultInstance().setSink(
        [this](XCGLogger::LogLevel, const std::string&, const std::string& text) { logged.push_back(text); });
  }
  void TearDown() override { XCGLogger::defaultInstance().setSink(nullptr); }

  LoginRequest login() {
    LoginRequest request;
    request.userName = "ann@x.org";
    request.password = "secret";
    return request;
  }

  // Sends a login request to `path` and waits for its answer.
  template <class T = LoginResponse>
  Reply<T> send(const std::string& path, bool authenticate = true, std::optional<LoginRequest> payload = {}) {
    Reply<T> reply;
    coordinator->sendRequest<LoginRequest, T, ErrorResponse>(Method::POST, server.url(path),
                                                             payload ? payload : login(), authenticate,
                                                             reply.completion());
    EXPECT_EQ(reply.calls, 0);  // never inside the call
    EXPECT_TRUE(time.runUntil([&] { return reply.calls > 0; }));
    time.runUntilIdle();
    EXPECT_EQ(reply.calls, 1);
    return reply;
  }

  // Every request sent so far has reached the server once this one did.
  void settle() {
    auth->type.reset();
    const auto before = server.requestCount();
    send("settle");
    ASSERT_TRUE(server.waitForRequestCount(before + 1));
  }

  VirtualTime time;
  FakeBackend server;
  std::shared_ptr<Manager> client = Manager::make(URLSessionConfiguration::ephemeralSessionConfiguration());
  std::shared_ptr<RecordingCoordinator> coordinator = std::make_shared<RecordingCoordinator>(client);
  std::shared_ptr<FakeAuthentication> auth = std::make_shared<FakeAuthentication>();
  std::vector<std::string> logged;
};

}  // namespace

TEST_F(TransferCoordinatorTest, AuthorizationFollowsTheSignedInMethodAndTheAuthenticateFlag) {
  struct Case {
    std::optional<AuthenticationType> type;
    std::optional<std::string> access, fb;
    bool authenticate;
    std::optional<std::string> bearer, provider;
  };
  const std::vector<Case> cases = {
      {std::nullopt, "a", "f", true, std::nullopt, std::nullopt},
      {AuthenticationType::Basic, "a", "f", false, std::nullopt, std::nullopt},
      {AuthenticationType::Basic, "a", "f", true, "Bearer a", "basic"},
      {AuthenticationType::Facebook, "a", "f", true, "Bearer f", "facebook"},
      {AuthenticationType::Facebook, std::nullopt, "f", false, std::nullopt, std::nullopt},
  };
  for (const auto& c : cases) {
    auth->type = c.type;
    auth->access = c.access;
    auth->fb = c.fb;
    auto reply = send("x", c.authenticate);
    EXPECT_FALSE(reply.error);
    const auto sent = server.lastRequest();
    ASSERT_TRUE(sent);
    EXPECT_EQ(sent->header("Content-Type"), "application/json; charset=utf-8");
    EXPECT_EQ(sent->header("Authorization"), c.bearer);
    EXPECT_EQ(sent->header("Authorization-Provider"), c.provider);
  }

  // Zedodo: a refresh before every authorized request, none otherwise.
  auth->type = AuthenticationType::Zedodo;
  auth->zedodo = "z1";
  send("x", false);
  EXPECT_EQ(auth->refreshes, 0);
  EXPECT_FALSE(server.lastRequest()->hasHeader("Authorization"));
  send("x", true);
  auth->zedodo = "z2";
  send("x", true);
  EXPECT_EQ(auth->refreshes, 2);
  EXPECT_EQ(server.lastRequest()->header("Authorization"), "Bearer z2");
  EXPECT_EQ(server.lastRequest()->header("Authorization-Provider"), "zedodo");
  EXPECT_EQ(auth->logouts, 0);
}

TEST_F(TransferCoordinatorTest, AMissingTokenSendsNothingAndAnswersNotSignedInWithoutLoggingOut) {
  // Basic without its token; Facebook without its token but with another method's.
  for (auto [type, access, fb] : {std::tuple{AuthenticationType::Basic, std::optional<std::string>(),
                                             std::optional<std::string>("f")},
                                  std::tuple{AuthenticationType::Facebook, std::optional<std::string>("a"),
                                             std::optional<std::string>()}}) {
    auth->type = type;
    auth->access = access;
    auth->fb = fb;
    auto reply = send("x");
    EXPECT_FALSE(reply.value);
    ASSERT_TRUE(reply.error);
    ASSERT_TRUE(reply.error->error);
    EXPECT_EQ(reply.error->error->domain, "com.dorvale.transfer");
    EXPECT_EQ(reply.error->error->code, -1);
    EXPECT_EQ(reply.error->error->localizedDescription(), "Not signed in");
    EXPECT_FALSE(reply.error->statusCode);
    EXPECT_FALSE(reply.error->response);
  }
  EXPECT_EQ(auth->logouts, 0);
  settle();
  EXPECT_EQ(server.requestCount(), 1u);
}

TEST_F(TransferCoordinatorTest, AFailedZedodoRefreshLogsOutAndDropsTheRequest) {
  auth->type = AuthenticationType::Zedodo;
  int calls = 0;
  coordinator->sendRequest<LoginRequest, LoginResponse, ErrorResponse>(
      Method::POST, server.url("x"), login(), true, [&](auto, auto) { ++calls; });
  time.runUntilIdle();
  EXPECT_EQ(auth->logouts, 1);
  settle();
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(server.requestCount(), 1u);
}

TEST_F(TransferCoordinatorTest, AnswersBecomeAReplyOrATransferError) {
  server.reply("POST", "/ok", {.body = R"({"token":"t","userName":"ann"})"});
  auto ok = send("ok");
  ASSERT_TRUE(ok.value);
  EXPECT_EQ(ok.value->token, "t");
  EXPECT_FALSE(ok.error);

  server.reply("POST", "/denied", {.status = 401, .body = R"({"errorMessage":"Bad password","errorCode":17})"});
  auto denied = send("denied");
  EXPECT_FALSE(denied.value);
  ASSERT_TRUE(denied.error);
  EXPECT_EQ(denied.error->statusCode, 401);
  EXPECT_TRUE(denied.error->error);
  ASSERT_TRUE(denied.error->response);
  EXPECT_EQ(denied.error->response->message, "Bad password");
  EXPECT_EQ(denied.error->response->code, 17);

  server.reply("POST", "/html", {.status = 500, .body = "<html>oops</html>"});
  auto html = send("html");
  ASSERT_TRUE(html.error);
  EXPECT_EQ(html.error->statusCode, 500);
  EXPECT_FALSE(html.error->response);

  // 2xx text the reply type refuses: nothing and nothing, except for the types that take any text.
  server.reply("POST", "/garbage", {.body = "not json"});
  auto garbage = send("garbage");
  EXPECT_FALSE(garbage.value);
  EXPECT_FALSE(garbage.error);
  auto list = send<MappableArray<SchoolResponse>>("garbage");
  ASSERT_TRUE(list.value);
  EXPECT_TRUE(list.value->empty());
  EXPECT_FALSE(list.error);
  EXPECT_TRUE(send<EmptyPayload>("garbage").value);
  server.reply("POST", "/empty", {.status = 204});
  EXPECT_FALSE(send("empty").value);
  EXPECT_TRUE(send<EmptyPayload>("empty").value);

  // No answer at all: the error only.
  server.reply("POST", "/drop", {.closeConnection = true});
  auto dropped = send("drop");
  ASSERT_TRUE(dropped.error);
  EXPECT_TRUE(dropped.error->error);
  EXPECT_FALSE(dropped.error->statusCode);
  EXPECT_FALSE(dropped.error->response);
}

TEST_F(TransferCoordinatorTest, AURLTextThatDoesNotParseFailsWithTheErrorOnlyAndLater) {
  Reply<LoginResponse> reply;
  coordinator->sendRequest<LoginRequest, LoginResponse, ErrorResponse>(
      Method::POST, server.url("Tablet/GetDocument?p=~a b"), login(), true, reply.completion());
  EXPECT_EQ(reply.calls, 0);
  time.runUntilIdle();
  ASSERT_EQ(reply.calls, 1);
  ASSERT_TRUE(reply.error);
  EXPECT_TRUE(reply.error->error);
  EXPECT_FALSE(reply.error->statusCode);
  settle();
  EXPECT_EQ(server.requestCount(), 1u);
}

TEST_F(TransferCoordinatorTest, BodiesAreTheEncodedPayloadAndRequestsGoOutWithoutACompletionToo) {
  coordinator->sendRequest<LoginRequest, LoginResponse, ErrorResponse>(Method::POST, server.url("none"), std::nullopt,
                                                                       false);
  coordinator->sendRequest<EmptyPayload, LoginResponse, ErrorResponse>(Method::GET, server.url("empty"),
                                                                       EmptyPayload(), false);
  coordinator->sendRequest<std::vector<std::int64_t>, EmptyPayload, ErrorResponse>(
      Method::POST, server.url("ids"), std::vector<std::int64_t>{3, -1, 17}, false);
  ASSERT_TRUE(server.waitForRequestCount(3));
  time.runUntil([&] { return logged.size() >= 6; });

  ASSERT_EQ(coordinator->prepared.size(), 3u);
  EXPECT_FALSE(coordinator->prepared[0].httpBody);
  ASSERT_TRUE(coordinator->prepared[1].httpBody);
  EXPECT_TRUE(coordinator->prepared[1].httpBody->empty());
  EXPECT_EQ(coordinator->prepared[1].httpMethod, "GET");
  EXPECT_EQ(coordinator->prepared[1].valueForHTTPHeaderField("Content-Type"), "application/json; charset=utf-8");
  EXPECT_EQ(coordinator->prepared[2].httpBody, Data::fromString("[3,-1,17]"));

  // Sent and logged, answers included, though nobody listens.
  std::size_t requestLines = 0, answerLines = 0;
  for (const auto& text : logged) {
    requestLines += text.starts_with("\n-> ");
    answerLines += text.starts_with("\n<- ");
  }
  EXPECT_EQ(requestLines, 3u);
  EXPECT_EQ(answerLines, 3u);
}

TEST_F(TransferCoordinatorTest, TheProfilePictureGoesAsOneAuthorizedPartAndItsStatusIsChecked) {
  auth->type = AuthenticationType::Basic;
  auth->access = "a";
  int successes = 0;
  std::vector<std::optional<TransferError<ErrorResponse>>> failures;
  std::vector<std::string> encodeErrors;
  auto upload = [&](const std::string& path) {
    const auto before = successes + failures.size();
    coordinator->uploadImage<ErrorResponse>(
        server.url(path), Data::fromString("\x89PNG bytes"), "JPEG", [&] { ++successes; },
        [&](auto error) { failures.push_back(error); }, [&](std::string text) { encodeErrors.push_back(text); });
    EXPECT_TRUE(time.runUntil([&] { return successes + failures.size() > before; }));
  };

  upload("pic");
  EXPECT_EQ(successes, 1);
  const auto sent = server.lastRequest();
  ASSERT_TRUE(sent);
  EXPECT_EQ(sent->method, "POST");
  EXPECT_EQ(sent->header("Authorization"), "Bearer a");
  EXPECT_EQ(sent->header("Authorization-Provider"), "basic");
  EXPECT_TRUE(sent->header("Content-Type")->starts_with("multipart/form-data; boundary="));
  ASSERT_EQ(sent->parts.size(), 1u);
  EXPECT_EQ(sent->parts[0].name, "file");
  EXPECT_EQ(sent->parts[0].filename, "profilePic.JPEG");
  EXPECT_EQ(sent->parts[0].contentType, "image/JPEG");
  EXPECT_EQ(sent->parts[0].content, "\x89PNG bytes");

  // An error status is a failure, with its body.
  server.reply("POST", "/broken", {.status = 500, .body = R"({"errorMessage":"disk full"})"});
  upload("broken");
  EXPECT_EQ(successes, 1);
  ASSERT_EQ(failures.size(), 1u);
  ASSERT_TRUE(failures[0]);
  EXPECT_EQ(failures[0]->statusCode, 500);
  EXPECT_EQ(failures[0]->response->message, "disk full");

  // A missing token fails without sending.
  auth->access.reset();
  upload("pic");
  ASSERT_EQ(failures.size(), 2u);
  EXPECT_EQ(failures[1]->error->code, -1);
  EXPECT_FALSE(failures[1]->statusCode);
  EXPECT_TRUE(encodeErrors.empty());
  EXPECT_EQ(auth->logouts, 0);

  // Nobody signed in: a logout, nothing sent, nobody called.
  auth->type.reset();
  coordinator->uploadImage<ErrorResponse>(
      server.url("pic"), Data(), "PNG", [&] { ++successes; }, [&](auto error) { failures.push_back(error); },
      [&](std::string text) { encodeErrors.push_back(text); });
  EXPECT_EQ(auth->logouts, 1);
  settle();
  EXPECT_EQ(successes, 1);
  EXPECT_EQ(failures.size(), 2u);
  EXPECT_EQ(server.requestCount(), 3u);
}

TEST_F(TransferCoordinatorTest, DownloadsPassTheBytesAndReportErrorStatuses) {
  auth->type = AuthenticationType::Basic;
  auth->access = "a";
  server.reply("GET", "/doc", {.body = "%PDF-1.4"});
  server.reply("GET", "/missing", {.status = 404, .body = "no such document"});
  server.reply("GET", "/drop", {.closeConnection = true});
  struct Download {
    int calls = 0;
    std::optional<Data> data;
    std::optional<NSError> error;
  };
  auto download = [&](const std::string& url) {
    Download d;
    coordinator->downloadDataFromUrl(url, [&](std::optional<Data> data, std::optional<NSError> error) {
      ++d.calls;
      d.data = std::move(data);
      d.error = std::move(error);
    });
    EXPECT_TRUE(time.runUntil([&] { return d.calls > 0; }));
    return d;
  };

  auto doc = download(server.url("doc"));
  EXPECT_EQ(doc.data, Data::fromString("%PDF-1.4"));
  EXPECT_FALSE(doc.error);
  EXPECT_FALSE(server.lastRequest()->hasHeader("Authorization"));
  EXPECT_FALSE(server.lastRequest()->hasHeader("Content-Type"));

  auto missing = download(server.url("missing"));
  EXPECT_EQ(missing.data, Data::fromString("no such document"));
  ASSERT_TRUE(missing.error);

  auto dropped = download(server.url("drop"));
  EXPECT_FALSE(dropped.data);
  EXPECT_TRUE(dropped.error);

  auto invalid = download(server.url("a b"));
  EXPECT_FALSE(invalid.data);
  EXPECT_TRUE(invalid.error);
  for (const auto& sent : server.requests()) EXPECT_NE(sent.path, "/a b");
}
