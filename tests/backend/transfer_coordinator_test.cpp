#include "backend/transfer_coordinator.h"

#include <gtest/gtest.h>

#include <fmt/format.h>

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

using Texts = std::vector<std::string>;

// "error <status> <body message>/<body code> <failure domain> <failure code>", "-" for what is absent.
std::string outcomeOf(const TransferError<ErrorResponse>& error) {
  const auto text = [](const auto& v) { return v ? fmt::format("{}", *v) : std::string("-"); };
  const auto& body = error.response;
  return fmt::format("error {} {} {}", text(error.statusCode),
                     body ? text(body->message) + "/" + text(body->code) : "-",
                     error.error ? fmt::format("{} {}", error.error->domain, error.error->code) : "-");
}

template <class T>
struct Reply {
  int calls = 0;
  std::optional<T> value;
  std::optional<TransferError<ErrorResponse>> error;

  // "value", "nothing", or the error.
  std::string outcome() const {
    return error ? (value ? "value and " : "") + outcomeOf(*error) : value ? "value" : "nothing";
  }
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
  // Tokens that could not go on a header line, or say nothing.
  auth->fb = "f\r\nX-Injected: 1";
  auto brokenFacebook = sendTo("x");
  auth->type = AuthenticationType::Basic;
  auth->access = "";
  auto emptyBasic = sendTo("x");
  // Unsent for want of a token reads as the server's 401, so that the error handler signs out.
  for (const auto* reply : {&basic, &facebook, &brokenFacebook, &emptyBasic}) {
    EXPECT_EQ(reply->outcome(), "error 401 - com.dorvale.transfer -1");
    EXPECT_EQ(reply->error->error, NSError("com.dorvale.transfer", -1, {{NSLocalizedDescriptionKey, "Not signed in"}}));
  }
  EXPECT_EQ(auth->logouts, 0);
  settle();
  EXPECT_EQ(server.requestCount(), 1u);
}

TEST_F(TransferCoordinatorTest, AFailedZedodoRefreshFailsTheRequestUnsentWithItsErrorAndNoLogout) {
  auth->type = AuthenticationType::Zedodo;
  // A sign-in the manager says is over reads as the server's 401, as a missing token does.
  auto over = sendTo("x");
  auth->refreshError = NSError("NSURLErrorDomain", -1004);
  auto unreachable = sendTo("x");
  auth->zedodo = "z\n";
  auto unusable = sendTo("x");
  EXPECT_EQ((Texts{over.outcome(), unreachable.outcome(), unusable.outcome()}),
            (Texts{"error 401 - com.dorvale.transfer -1", "error - - NSURLErrorDomain -1004",
                   "error - - com.dorvale.transfer -2"}));
  EXPECT_EQ(std::tuple(auth->refreshes, auth->logouts), std::tuple(3, 0));
  settle();
  EXPECT_EQ(server.requestCount(), 1u);
}

TEST_F(TransferCoordinatorTest, AnswersBecomeAReplyOrATransferError) {
  server.reply("POST", "/ok", {.body = R"({"token":"t","userName":"ann"})"});
  auto ok = sendTo("ok");
  EXPECT_EQ(ok.outcome(), "value");
  EXPECT_EQ(ok.value.value_or(LoginResponse()).token, "t");

  // 2xx text the reply type refuses: nothing and nothing. A list takes only a JSON array (an
  // empty one included); the empty payload takes any text.
  server.reply("POST", "/denied", {.status = 401, .body = R"({"errorMessage":"Bad password","errorCode":17})"});
  server.reply("POST", "/html", {.status = 500, .body = "<html>oops</html>"});
  server.reply("POST", "/garbage", {.body = "<html>portal</html>"});
  server.reply("POST", "/object", {.body = R"({"id":1})"});
  server.reply("POST", "/none", {.body = "[]"});
  server.reply("POST", "/empty", {.status = 204});
  // No answer at all, and a URL text that does not parse (never sent): the error only.
  server.reply("POST", "/drop", {.closeConnection = true});
  using Schools = MappableArray<SchoolResponse>;
  EXPECT_EQ((Texts{sendTo("denied").outcome(), sendTo("html").outcome(), sendTo("garbage").outcome(),
                   sendTo<Schools>("garbage").outcome(), sendTo<Schools>("object").outcome(),
                   sendTo<Schools>("none").outcome(), sendTo<EmptyPayload>("garbage").outcome(),
                   sendTo("empty").outcome(), sendTo<EmptyPayload>("empty").outcome(), sendTo("drop").outcome(),
                   sendTo("Tablet/GetDocument?p=~a b").outcome()}),
            (Texts{"error 401 Bad password/17 HTTPErrorDomain -6003", "error 500 - HTTPErrorDomain -6003", "nothing",
                   "nothing", "nothing", "value", "value", "nothing", "value", "error - - NSURLErrorDomain -1005",
                   "error - - NSURLErrorDomain -1000"}));
  EXPECT_TRUE(sendTo<Schools>("none").value->empty());
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
  Texts failures;
  auto upload = [&](const std::string& path, bool answered = true) {
    const auto before = successes + failures.size();
    coordinator->uploadImage<ErrorResponse>(
        server.url(path), Data::fromString("\x89PNG bytes"), "JPEG", [&] { ++successes; },
        [&](auto error) { failures.push_back(error ? outcomeOf(*error) : "nothing"); },
        [&](std::string) { ++encodeErrors; });
    if (answered) {
      EXPECT_TRUE(time.runUntil([&] { return successes + failures.size() > before; }));
    }
  };

  upload("pic");
  EXPECT_EQ(successes, 1);
  // The multipart framing is the client's; the part and the authorization are the coordinator's.
  const auto sent = server.lastRequest();
  EXPECT_EQ(std::tuple(sent->method, sent->header("Authorization"), sent->header("Authorization-Provider"),
                       sent->parts.size()),
            std::tuple("POST", "Bearer a", "basic", 1u));
  const auto& part = sent->parts.at(0);
  EXPECT_EQ(std::tie(part.name, part.filename, part.contentType, part.content),
            std::tuple("file", "profilePic.JPEG", "image/JPEG", "\x89PNG bytes"));

  // An error status is a failure, with its body; a missing token, or a failed Zedodo refresh, fails
  // without sending.
  upload("broken");
  auth->access.reset();
  upload("pic");
  auth->type = AuthenticationType::Zedodo;
  auth->refreshError = NSError("NSURLErrorDomain", -1004);
  upload("pic");
  EXPECT_EQ(std::tuple(successes, auth->logouts), std::tuple(1, 0));
  EXPECT_EQ(failures, (Texts{"error 500 disk full/- HTTPErrorDomain -6003", "error 401 - com.dorvale.transfer -1",
                             "error - - NSURLErrorDomain -1004"}));

  // Nobody signed in: a logout, nothing sent, nobody called.
  auth->type.reset();
  upload("pic", false);
  EXPECT_EQ(auth->logouts, 1);
  settle();
  EXPECT_EQ(successes + failures.size(), 4u);
  EXPECT_EQ(encodeErrors, 0);
  EXPECT_EQ(server.requestCount(), 3u);
}

TEST_F(TransferCoordinatorTest, DownloadsPassTheBytesWithoutOurHeadersAndReportErrorStatuses) {
  auth->type = AuthenticationType::Basic;
  auth->access = "a";
  server.reply("GET", "/doc", {.body = "%PDF-1.4"});
  server.reply("GET", "/missing", {.status = 404, .body = "no such document"});
  server.reply("GET", "/drop", {.closeConnection = true});
  // "<bytes> <error domain> <error code>", "-" for what is absent.
  auto download = [&](const std::string& path) {
    std::string d;
    coordinator->downloadDataFromUrl(server.url(path), [&](std::optional<Data> data, std::optional<NSError> error) {
      d = (data ? data->toString() : "-") + (error ? fmt::format(" {} {}", error->domain, error->code) : " -");
    });
    EXPECT_TRUE(time.runUntil([&] { return !d.empty(); }));
    return d;
  };
  EXPECT_EQ((Texts{download("doc"), download("missing"), download("drop"), download("a b")}),
            (Texts{"%PDF-1.4 -", "no such document HTTPErrorDomain -6003", "- NSURLErrorDomain -1005",
                   "- NSURLErrorDomain -1000"}));
  EXPECT_FALSE(server.requests()[0].hasHeader("Authorization") || server.requests()[0].hasHeader("Content-Type"));
  for (const auto& sent : server.requests()) EXPECT_NE(sent.path, "/a b");
}
