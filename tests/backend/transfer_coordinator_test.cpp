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

// Which headers go with which sign-in method is checked call by call in the backend API's
// catalogue test; this suite covers the rest of the coordinator's roads.

namespace {

template <class T>
struct Reply {
  int calls = 0;
  std::optional<T> value;
  std::optional<TransferError<ErrorResponse>> error;
};

class TransferCoordinatorTest : public CoordinatorTest {
 protected:
  // Sends a login body to `path` on the server and waits for the one answer, which never comes
  // inside the call.
  template <class T = LoginResponse>
  Reply<T> sendTo(const std::string& path) {
    Reply<T> reply;
    LoginRequest body;
    body.userName = "ann@x.org";
    coordinator->sendRequest<LoginRequest, T, ErrorResponse>(Method::POST, server.url(path), body, true,
                                                             [&reply](auto value, auto error) {
                                                               EXPECT_TRUE(RunLoop::isMainThread());
                                                               ++reply.calls;
                                                               reply.value = std::move(value);
                                                               reply.error = std::move(error);
                                                             });
    EXPECT_EQ(reply.calls, 0);
    EXPECT_TRUE(time.runUntil([&] { return reply.calls > 0; }));
    time.runUntilIdle();
    EXPECT_EQ(reply.calls, 1);
    return reply;
  }

  // Every request sent so far has reached the server once this one did.
  void settle() {
    auth->type.reset();
    const auto before = server.requestCount();
    sendTo("settle");
    ASSERT_TRUE(server.waitForRequestCount(before + 1));
  }
};

}  // namespace

TEST_F(TransferCoordinatorTest, AMissingTokenSendsNothingAndAnswersNotSignedInWithoutLoggingOut) {
  // Basic without its token; Facebook without its own but with the Basic one.
  auth->type = AuthenticationType::Basic;
  auth->fb = "f";
  auto basic = sendTo("x");
  auth->type = AuthenticationType::Facebook;
  auth->fb.reset();
  auth->access = "a";
  auto facebook = sendTo("x");
  for (const auto* reply : {&basic, &facebook}) {
    EXPECT_FALSE(reply->value);
    ASSERT_TRUE(reply->error && reply->error->error);
    EXPECT_EQ(reply->error->error->domain, "com.dorvale.transfer");
    EXPECT_EQ(reply->error->error->code, -1);
    EXPECT_EQ(reply->error->error->localizedDescription(), "Not signed in");
    EXPECT_FALSE(reply->error->statusCode);
    EXPECT_FALSE(reply->error->response);
  }
  EXPECT_EQ(auth->logouts, 0);
  settle();
  EXPECT_EQ(server.requestCount(), 1u);
}

TEST_F(TransferCoordinatorTest, AFailedZedodoRefreshLogsOutAndDropsTheRequest) {
  auth->type = AuthenticationType::Zedodo;
  int calls = 0;
  coordinator->sendRequest<LoginRequest, LoginResponse, ErrorResponse>(Method::POST, server.url("x"), LoginRequest(),
                                                                       true, [&](auto, auto) { ++calls; });
  time.runUntilIdle();
  EXPECT_EQ(auth->logouts, 1);
  settle();
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(server.requestCount(), 1u);
}

TEST_F(TransferCoordinatorTest, AnswersBecomeAReplyOrATransferError) {
  server.reply("POST", "/ok", {.body = R"({"token":"t","userName":"ann"})"});
  auto ok = sendTo("ok");
  ASSERT_TRUE(ok.value);
  EXPECT_EQ(ok.value->token, "t");
  EXPECT_FALSE(ok.error);

  server.reply("POST", "/denied", {.status = 401, .body = R"({"errorMessage":"Bad password","errorCode":17})"});
  auto denied = sendTo("denied");
  EXPECT_FALSE(denied.value);
  ASSERT_TRUE(denied.error && denied.error->response);
  EXPECT_EQ(denied.error->statusCode, 401);
  EXPECT_TRUE(denied.error->error);
  EXPECT_EQ(denied.error->response->message, "Bad password");
  EXPECT_EQ(denied.error->response->code, 17);

  server.reply("POST", "/html", {.status = 500, .body = "<html>oops</html>"});
  auto html = sendTo("html");
  ASSERT_TRUE(html.error);
  EXPECT_EQ(html.error->statusCode, 500);
  EXPECT_FALSE(html.error->response);

  // 2xx text the reply type refuses: nothing and nothing. A list takes only a JSON array (an
  // empty one included); the empty payload takes any text.
  server.reply("POST", "/garbage", {.body = "<html>portal</html>"});
  server.reply("POST", "/object", {.body = R"({"id":1})"});
  server.reply("POST", "/none", {.body = "[]"});
  auto garbage = sendTo("garbage");
  EXPECT_FALSE(garbage.value || garbage.error);
  for (const char* path : {"garbage", "object"}) {
    auto list = sendTo<MappableArray<SchoolResponse>>(path);
    EXPECT_FALSE(list.value || list.error) << path;
  }
  auto none = sendTo<MappableArray<SchoolResponse>>("none");
  ASSERT_TRUE(none.value);
  EXPECT_TRUE(none.value->empty());
  EXPECT_TRUE(sendTo<EmptyPayload>("garbage").value);
  server.reply("POST", "/empty", {.status = 204});
  EXPECT_FALSE(sendTo("empty").value);
  EXPECT_TRUE(sendTo<EmptyPayload>("empty").value);

  // No answer at all, and a URL text that does not parse (never sent): the error only.
  server.reply("POST", "/drop", {.closeConnection = true});
  for (const std::string url : {"drop", "Tablet/GetDocument?p=~a b"}) {
    auto failed = sendTo(url);
    ASSERT_TRUE(failed.error) << url;
    EXPECT_TRUE(failed.error->error) << url;
    EXPECT_FALSE(failed.error->statusCode || failed.error->response) << url;
  }
  for (const auto& sent : server.requests()) EXPECT_EQ(sent.path.find(' '), std::string::npos);
}

TEST_F(TransferCoordinatorTest, RequestsWithoutCompletionAreSentAndLoggedAnswersIncluded) {
  coordinator->sendRequest<LoginRequest, LoginResponse, ErrorResponse>(Method::POST, server.url("none"), std::nullopt,
                                                                       false);
  coordinator->sendRequest<EmptyPayload, LoginResponse, ErrorResponse>(Method::GET, server.url("empty"), EmptyPayload(),
                                                                       false);
  ASSERT_TRUE(server.waitForRequestCount(2));
  ASSERT_TRUE(time.runUntil([&] { return logged.size() >= 4; }));
  // Request entries are written as the requests go out. No payload gives no body; the empty
  // payload a body of zero bytes.
  const std::string json = ", HEADERS: \n  Content-Type: application/json; charset=utf-8\nBODY:";
  EXPECT_EQ(logged[0], "\n-> POST " + server.url("none") + json + "empty");
  EXPECT_EQ(logged[1], "\n-> GET " + server.url("empty") + json + "\n  ");
  EXPECT_TRUE(logged[2].starts_with("\n<- ") && logged[3].starts_with("\n<- "));
}

TEST_F(TransferCoordinatorTest, TheProfilePictureGoesAsOneAuthorizedPartAndItsStatusIsChecked) {
  auth->type = AuthenticationType::Basic;
  auth->access = "a";
  server.reply("POST", "/broken", {.status = 500, .body = R"({"errorMessage":"disk full"})"});
  int successes = 0, encodeErrors = 0;
  std::vector<std::optional<TransferError<ErrorResponse>>> failures;
  auto upload = [&](const std::string& path, bool answered = true) {
    const auto before = successes + failures.size();
    coordinator->uploadImage<ErrorResponse>(
        server.url(path), Data::fromString("\x89PNG bytes"), "JPEG", [&] { ++successes; },
        [&](auto error) { failures.push_back(error); }, [&](std::string) { ++encodeErrors; });
    if (answered) {
      EXPECT_TRUE(time.runUntil([&] { return successes + failures.size() > before; }));
    }
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

  // An error status is a failure, with its body; a missing token fails without sending.
  upload("broken");
  auth->access.reset();
  upload("pic");
  EXPECT_EQ(successes, 1);
  ASSERT_EQ(failures.size(), 2u);
  ASSERT_TRUE(failures[0] && failures[0]->response);
  EXPECT_EQ(failures[0]->statusCode, 500);
  EXPECT_EQ(failures[0]->response->message, "disk full");
  ASSERT_TRUE(failures[1] && failures[1]->error);
  EXPECT_EQ(failures[1]->error->code, -1);
  EXPECT_FALSE(failures[1]->statusCode);
  EXPECT_EQ(auth->logouts, 0);

  // Nobody signed in: a logout, nothing sent, nobody called.
  auth->type.reset();
  upload("pic", false);
  EXPECT_EQ(auth->logouts, 1);
  settle();
  EXPECT_EQ(successes + failures.size(), 3u);
  EXPECT_EQ(encodeErrors, 0);
  EXPECT_EQ(server.requestCount(), 3u);
}

TEST_F(TransferCoordinatorTest, DownloadsPassTheBytesWithoutOurHeadersAndReportErrorStatuses) {
  auth->type = AuthenticationType::Basic;
  auth->access = "a";
  server.reply("GET", "/doc", {.body = "%PDF-1.4"});
  server.reply("GET", "/missing", {.status = 404, .body = "no such document"});
  server.reply("GET", "/drop", {.closeConnection = true});
  auto download = [&](const std::string& path) {
    std::optional<std::pair<std::optional<Data>, std::optional<NSError>>> d;
    coordinator->downloadDataFromUrl(server.url(path), [&](auto data, auto error) { d.emplace(data, error); });
    EXPECT_TRUE(time.runUntil([&] { return d.has_value(); }));
    return d.value_or(std::pair{Data(), NSError()});
  };

  auto [doc, docError] = download("doc");
  EXPECT_EQ(doc, Data::fromString("%PDF-1.4"));
  EXPECT_FALSE(docError);
  EXPECT_FALSE(server.lastRequest()->hasHeader("Authorization"));
  EXPECT_FALSE(server.lastRequest()->hasHeader("Content-Type"));

  auto [missing, missingError] = download("missing");
  EXPECT_EQ(missing, Data::fromString("no such document"));
  EXPECT_TRUE(missingError);

  for (const char* path : {"drop", "a b"}) {
    auto [data, error] = download(path);
    EXPECT_FALSE(data) << path;
    EXPECT_TRUE(error) << path;
  }
  for (const auto& sent : server.requests()) EXPECT_NE(sent.path, "/a b");
}
