#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/foundation/bundle.h"
#include "platform/foundation/run_loop.h"
#include "platform/frameworks/fbsdk_access_token.h"
#include "platform/frameworks/fbsdk_application_delegate.h"
#include "platform/frameworks/fbsdk_graph_request.h"
#include "platform/frameworks/fbsdk_login_manager.h"
#include "platform/frameworks/fbsdk_settings.h"
#include "platform/frameworks/fbsdk_web_login_dialog.h"
#include "platform/keychain/memory_keychain_store.h"
#include "platform/keychain/unsaved_sign_in.h"
#include "platform/net/url_session.h"
#include "platform/ui/browser_sign_ins.h"
#include "platform/ui/url_contents.h"
#include "support/fake_backend.h"
#include "support/refusing_keychain_store.h"
#include "support/virtual_time.h"

namespace {

struct GraphAnswer {
  int calls = 0;
  std::optional<Value::Dictionary> result;
  std::optional<NSError> error;
};

class GraphRequestTest : public ::testing::Test {
 protected:
  void SetUp() override { FBSDKSettings::setGraphBaseURL(server.baseUrl()); }
  void TearDown() override { FBSDKSettings::setGraphBaseURL(std::nullopt); }

  GraphAnswer start(const FBSDKGraphRequest& request) {
    GraphAnswer answer;
    request.startWithCompletionHandler([&](auto& connection, auto& result, auto& error) {
      EXPECT_TRUE(RunLoop::isMainThread() && connection);
      answer = {answer.calls + 1, result, error};
    });
    EXPECT_EQ(answer.calls, 0);
    EXPECT_TRUE(time.runUntil([&] { return answer.calls > 0; }));
    time.runUntilIdle();
    EXPECT_EQ(answer.calls, 1);
    return answer;
  }

  FBSDKGraphRequest me(std::optional<std::string> token = "EAAB token") {
    return FBSDKGraphRequest("me", {{"fields", "email,first_name,last_name,picture"}}, std::move(token), std::nullopt,
                             "GET");
  }

  VirtualTime time;
  FakeBackend server;
};

}  // namespace

TEST_F(GraphRequestTest, SendsAGetWithParametersAndTokenAsQueryItemsAndAnswersWithTheObject) {
  server.reply("GET", "/v2.7/me", {.body = R"({"id":"12345","email":"a@b.cd","first_name":"Ann","age":3})"});
  auto answer = start(me());

  const auto sent = server.requests().at(0);
  EXPECT_EQ(std::tuple(server.requestCount(), sent.method, sent.path), std::tuple(1u, "GET", "/v2.7/me"));
  EXPECT_EQ(
      URL::URLWithString("http://x/?" + sent.query).value().queryItems(),
      (std::vector<URLQueryItem>{{"fields", "email,first_name,last_name,picture"}, {"access_token", "EAAB token"}}));
  EXPECT_FALSE(answer.error);
  EXPECT_EQ(answer.result,
            (Value::Dictionary{
                {"id", Value("12345")}, {"email", Value("a@b.cd")}, {"first_name", Value("Ann")}, {"age", Value(3)}}));

  // An explicit version and no token.
  start(FBSDKGraphRequest("/me/picture", {}, std::nullopt, "v9.0", "GET"));
  EXPECT_EQ(std::tuple(server.lastRequest()->path, server.lastRequest()->query), std::tuple("/v9.0/me/picture", ""));
}

TEST_F(GraphRequestTest, ErrorStatusesNonObjectsAndRefusedConnectionsAnswerWithAnError) {
  const auto api = FBSDKErrorCode::GraphRequestGraphAPI, invalid = FBSDKErrorCode::InvalidGraphResponse;
  GraphAnswer answer;
  for (const auto& [status, body, code] : std::vector<std::tuple<int, std::string, FBSDKErrorCode>>{
           {500, "<html>down</html>", api},
           {200, "[1,2]", invalid},
           {200, "\"text\"", invalid},
           {200, "not json", invalid},
           {200, "", invalid},
           {400, R"({"error":{"message":"Invalid OAuth access token.","code":190}})", api}}) {
    SCOPED_TRACE(body);
    server.reply("GET", "/v2.7/me", {.status = status, .body = body});
    answer = start(me());
    ASSERT_TRUE(answer.error && !answer.result);
    EXPECT_EQ(std::tuple(answer.error->domain, answer.error->code),
              std::tuple(FBSDKErrorDomain, static_cast<long>(code)));
  }
  // The last case: the API's own message, and the status.
  EXPECT_EQ(answer.error->localizedDescription(), "Invalid OAuth access token.");
  EXPECT_EQ(answer.error->userInfo.at(FBSDKGraphRequestErrorHTTPStatusCodeKey), Value(400));

  // A refused connection: the platform's error, whose description (shown to the user) names the
  // URL without the token.
  FakeBackend::ClosedPort closed;
  FBSDKSettings::setGraphBaseURL(closed.url(""));
  answer = start(me());
  ASSERT_TRUE(answer.error && !answer.result);
  EXPECT_NE(answer.error->domain, FBSDKErrorDomain);
  EXPECT_NE(answer.error->description().find("/v2.7/me?fields="), std::string::npos) << answer.error->description();
  EXPECT_EQ(answer.error->description().find("EAAB"), std::string::npos) << answer.error->description();
}

TEST_F(GraphRequestTest, ACancelledConnectionNeverAnswers) {
  int calls = 0;
  auto connection = me().startWithCompletionHandler([&](auto&, auto&, auto&) { ++calls; });
  connection->cancel();
  ASSERT_TRUE(server.waitForRequestCount(1));
  // A later request's answer has come: the cancelled one's almost surely too.
  start(me());
  EXPECT_EQ(calls, 0);
}

namespace {

class ScriptedPresenter : public FBSDKLoginDialogPresenter {
 public:
  void presentLoginDialog(const Request& request, Completion completion) override {
    requests.push_back(request);
    // Answers from another thread, twice: only the first answer counts.
    std::thread([this, completion] {
      completion(result, error);
      completion(nullptr, NSError("late", 1));
    }).join();
  }

  std::vector<Request> requests;
  std::shared_ptr<FBSDKLoginManagerLoginResult> result;
  std::optional<NSError> error;
};

class LoginManagerTest : public ::testing::Test {
 protected:
  void SetUp() override { FBSDKLoginDialogPresenter::setCurrent(presenter); }
  void TearDown() override {
    FBSDKLoginDialogPresenter::setCurrent(nullptr);
    FBSDKAccessToken::setCurrentAccessToken(nullptr);
  }

  struct Outcome {
    int calls = 0;
    std::shared_ptr<FBSDKLoginManagerLoginResult> result;
    std::optional<NSError> error;
    std::shared_ptr<FBSDKAccessToken> currentDuringHandler;
  };

  Outcome logIn() {
    Outcome outcome;
    manager.logInWithReadPermissions({"public_profile", "email"}, nullptr, [&](auto result, auto error) {
      ++outcome.calls;
      EXPECT_TRUE(RunLoop::isMainThread());
      outcome.result = result;
      outcome.error = error;
      outcome.currentDuringHandler = FBSDKAccessToken::currentAccessToken();
    });
    EXPECT_EQ(outcome.calls, 0);
    time.runUntilIdle();
    EXPECT_EQ(outcome.calls, 1);
    return outcome;
  }

  VirtualTime time;
  std::shared_ptr<ScriptedPresenter> presenter = std::make_shared<ScriptedPresenter>();
  FBSDKLoginManager manager;
};

}  // namespace

TEST_F(LoginManagerTest, ALoginWithATokenMakesItCurrentBeforeTheHandlerAndLogOutForgetsIt) {
  manager.setLoginBehavior(FBSDKLoginBehavior::Web);
  auto token = std::make_shared<FBSDKAccessToken>("tok", std::set<std::string>{"public_profile"},
                                                  std::set<std::string>{"email"}, "123", "u1");
  presenter->result = std::make_shared<FBSDKLoginManagerLoginResult>(
      token, false, std::set<std::string>{"public_profile"}, std::set<std::string>{"email"});
  auto outcome = logIn();
  EXPECT_EQ(std::tuple(presenter->requests.at(0).permissions, presenter->requests.at(0).behavior),
            std::tuple(std::vector<std::string>{"public_profile", "email"}, FBSDKLoginBehavior::Web));
  ASSERT_TRUE(outcome.result && !outcome.error);
  EXPECT_EQ(std::tuple(outcome.result->isCancelled(), outcome.result->token(), outcome.result->declinedPermissions()),
            std::tuple(false, token, std::set<std::string>{"email"}));
  EXPECT_EQ(outcome.currentDuringHandler, token);

  manager.logOut();
  EXPECT_FALSE(FBSDKAccessToken::currentAccessToken());
}

// The cache's line waits for the handler: a sign-in it ends is told once, as not kept; one it keeps
// is told as lasting.
TEST_F(LoginManagerTest, ATokenTheCacheCannotKeepIsToldAsTheHandlersSignInWent) {
  FBSDKAccessToken::startTokenCache();
  presenter->result = std::make_shared<FBSDKLoginManagerLoginResult>(
      std::make_shared<FBSDKAccessToken>("tok", std::set<std::string>{}, std::set<std::string>{}, "123", "u1"), false,
      std::set<std::string>{}, std::set<std::string>{});
  for (const bool kept : {false, true}) {
    const std::string place = kept ? "/kept/cache" : "/ended/cache";
    const auto refusing = std::make_shared<RefusingKeychainStore>(KeychainFailure{place, "Read-only file system"});
    KeychainStore::setCurrent(refusing);
    refusing->setRefusing(true);
    testing::internal::CaptureStderr();
    manager.logInWithReadPermissions({}, nullptr, [kept](auto, auto) {
      if (!kept) reportUnsavedSignIn(UnsavedSignIn::NotKept);
    });
    time.runUntilIdle();
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "dorvale: cannot save the sign-in in " + place + " (Read-only file system): " +
                  (kept ? "it lasts until the program ends\n" : "it was not kept\n"));
  }
  KeychainStore::setCurrent(std::make_shared<MemoryKeychainStore>());
}

TEST_F(LoginManagerTest, CancelledFailedAndUnavailableLoginsLeaveTheCurrentTokenAlone) {
  auto existing =
      std::make_shared<FBSDKAccessToken>("old", std::set<std::string>{}, std::set<std::string>{}, "123", "u1");
  FBSDKAccessToken::setCurrentAccessToken(existing);

  presenter->result = FBSDKLoginManagerLoginResult::cancelled();
  auto outcome = logIn();
  EXPECT_TRUE(outcome.result && outcome.result->isCancelled() && !outcome.result->token());

  presenter->result = nullptr;
  presenter->error = NSError("com.facebook.sdk.login", 1, {{NSLocalizedDescriptionKey, "denied"}});
  outcome = logIn();
  ASSERT_TRUE(outcome.error && !outcome.result);
  EXPECT_EQ(outcome.error->localizedDescription(), "denied");

  FBSDKLoginDialogPresenter::setCurrent(nullptr);
  outcome = logIn();
  ASSERT_TRUE(outcome.error);
  EXPECT_EQ(std::tuple(outcome.error->domain, outcome.error->code),
            std::tuple(FBSDKLoginErrorDomain, static_cast<long>(FBSDKLoginErrorCode::DialogUnavailable)));
  EXPECT_EQ(FBSDKAccessToken::currentAccessToken(), existing);
}

TEST(WebLoginDialogTest, TheRedirectGivesATokenOnlyWithTheDialogsState) {
  struct Case {
    std::optional<std::string> query;  // nothing: no redirect before the time-out
    bool cancelled;
    std::optional<FBSDKLoginErrorCode> error;
    std::string token;
  };
  constexpr auto kInvalid = FBSDKLoginErrorCode::InvalidRedirect;
  const std::vector<Case> cases = {
      {"state=s1&access_token=t%2B1&user_id=u7&denied_scopes=email", false, std::nullopt, "t+1"},
      {"access_token=t1&state=other", false, kInvalid, ""},
      {"access_token=t1", false, kInvalid, ""},
      {"state=s1", false, kInvalid, ""},
      {"state=s1&error=access_denied", true, std::nullopt, ""},
      {"state=other&error=access_denied", false, kInvalid, ""},
      {"state=s1&error=server_error", false, FBSDKLoginErrorCode::DialogFailed, ""},
      {std::nullopt, false, FBSDKLoginErrorCode::DialogTimedOut, ""},
  };
  for (const auto& c : cases) {
    std::optional<URL> redirect;
    if (c.query) redirect = URL::URLWithString("http://127.0.0.1:4000/?" + *c.query);
    auto [result, error] = FBSDKWebLoginDialogPresenter::resultOfRedirect(redirect, "s1", {"public_profile", "email"});
    const auto code = error ? std::optional(static_cast<FBSDKLoginErrorCode>(error->code)) : std::nullopt;
    EXPECT_EQ(std::tuple(result && result->isCancelled(), code,
                         result && result->token() ? result->token()->tokenString() : ""),
              std::tuple(c.cancelled, c.error, c.token))
        << c.query.value_or("(none)");
    EXPECT_NE(!result, !error) << c.query.value_or("(none)");
  }
}

TEST(FBSDKSettingsTest, TheAppIdIsTheOneSetElseTheEnvironmentsElseTheInfoDictionarys) {
  const auto bundle = Bundle::main();
  const auto info = bundle->infoDictionary();
  struct Case {
    std::optional<std::string> set, environment, infoValue, appID;
  };
  const std::vector<Case> cases = {
      {std::nullopt, std::nullopt, std::nullopt, std::nullopt},
      {std::nullopt, std::nullopt, "", std::nullopt},
      {std::nullopt, std::nullopt, "info-1", "info-1"},
      {std::nullopt, "", "info-1", "info-1"},
      {std::nullopt, "env-1", "info-1", "env-1"},
      {"set-1", "env-1", "info-1", "set-1"},
      {"", "env-1", "info-1", std::nullopt},
  };
  for (const auto& c : cases) {
    auto changed = info;
    changed.erase(FBSDKSettings::kAppIDInfoKey);
    if (c.infoValue) changed[FBSDKSettings::kAppIDInfoKey] = *c.infoValue;
    bundle->setInfoDictionary(changed);
    c.environment ? setenv(FBSDKSettings::kAppIDVariable, c.environment->c_str(), 1)
                  : unsetenv(FBSDKSettings::kAppIDVariable);
    FBSDKSettings::setAppID(c.set);
    EXPECT_EQ(FBSDKSettings::appID(), c.appID) << &c - cases.data();
  }
  unsetenv(FBSDKSettings::kAppIDVariable);
  FBSDKSettings::setAppID(std::nullopt);
  bundle->setInfoDictionary(info);
}

// The dialog up to the browser: it opens only for an app id, never counts as network work while
// the user is in the browser (with a browser or without), and a cancel ends it at once and for good.
TEST(WebLoginDialogTest, ItNeedsAnAppIdNeverHoldsTheNetworkWhileWaitingAndEndsOnCancel) {
  VirtualTime time;
  FBSDKSettings::setLoginDialogURL("http://127.0.0.1:9/dialog?display=page");
  for (const bool browser : {false, true}) {
    SCOPED_TRACE(browser);
    // Earlier transfers let go of their count a moment after they answer.
    ASSERT_TRUE(time.runUntil([] { return URLSession::transfersInFlight() == 0; }));
    std::vector<URL> pages;
    FBSDKWebLoginDialogPresenter presenter(300, [&](const URL& page, std::ostream&) {
      pages.push_back(page);
      return browser;
    });
    std::vector<std::pair<std::shared_ptr<FBSDKLoginManagerLoginResult>, std::optional<NSError>>> answers;
    const auto present = [&] {
      presenter.presentLoginDialog({{"public_profile", "email"}, FBSDKLoginBehavior::Web, nullptr},
                                   [&](auto result, auto error) { answers.emplace_back(result, error); });
    };
    FBSDKSettings::setAppID("");
    present();
    ASSERT_EQ(answers.size(), 1u);
    ASSERT_TRUE(answers[0].second && pages.empty());
    EXPECT_EQ(answers[0].second->code, static_cast<long>(FBSDKLoginErrorCode::DialogUnavailable));

    FBSDKSettings::setAppID("sample-app");
    present();
    time.runUntilIdle();
    ASSERT_EQ(pages.size(), 1u);
    std::map<std::string, std::string> query;
    for (const auto& item : pages[0].queryItems()) query.emplace(item.name, item.value.value_or(""));
    EXPECT_EQ(std::tuple(query["display"], query["client_id"], query["response_type"], query["scope"]),
              std::tuple("page", "sample-app", "token", "public_profile,email"));
    EXPECT_EQ(URLSession::transfersInFlight(), 0u);
    EXPECT_EQ(answers.size(), 1u);

    EXPECT_EQ(BrowserSignIns::cancelAll(), 1u);
    ASSERT_EQ(answers.size(), 2u);
    EXPECT_TRUE(answers[1].first && answers[1].first->isCancelled() && !answers[1].second);
    time.runUntilIdle();
    EXPECT_EQ(URLSession::transfersInFlight(), 0u);
    EXPECT_EQ(BrowserSignIns::cancelAll(), 0u);
    // A late answer finds nobody listening.
    auto late = URL::URLWithString(query["redirect_uri"] + "?state=" + query["state"] + "&access_token=t1");
    ASSERT_TRUE(late);
    EXPECT_FALSE(dataWithContentsOfURL(*late, 5));
    time.runUntilIdle();
    EXPECT_EQ(answers.size(), 2u);
  }
  FBSDKSettings::setAppID(std::nullopt);
  FBSDKSettings::setLoginDialogURL(std::nullopt);
}

// The browser's last page and the program act on one result: a token with the dialog's state
// signs in, a refusal cancels, any other answer fails with what the provider said.
TEST(WebLoginDialogTest, TheLastPageSaysWhatTheProgramDoesWithTheAnswer) {
  VirtualTime time;
  FBSDKSettings::setAppID("sample-app");
  FBSDKSettings::setLoginDialogURL("http://127.0.0.1:9/dialog");
  std::optional<URL> dialog;
  FBSDKLoginDialogPresenter::setCurrent(
      std::make_shared<FBSDKWebLoginDialogPresenter>(30, [&](const URL& page, std::ostream&) {
        dialog = page;
        return true;
      }));
  struct Case {
    std::string answer;  // "STATE" stands for the dialog's state
    std::string title, message;
    std::string token;  // the current token afterwards
    bool cancelled;
    std::optional<FBSDKLoginErrorCode> error;
  };
  const std::vector<Case> cases = {
      {"state=STATE&access_token=tok-1&user_id=u1", "Back to the application",
       "Facebook answered. Go back to the application to finish signing in.", "tok-1", false, std::nullopt},
      {"state=STATE&error=access_denied&error_description=Permissions+error", "Sign-in not completed",
       "The sign-in was cancelled.", "tok-1", true, std::nullopt},
      {"state=STATE&error=server_error&error_description=Try%20%3Cagain%3E%20later", "Sign-in not completed",
       "The Facebook login failed: Try &lt;again&gt; later", "tok-1", false, FBSDKLoginErrorCode::DialogFailed},
      {"state=other&access_token=tok-2", "Sign-in not completed", "The login answer does not match the dialog.",
       "tok-1", false, FBSDKLoginErrorCode::InvalidRedirect},
  };
  FBSDKLoginManager manager;
  std::optional<std::pair<std::shared_ptr<FBSDKLoginManagerLoginResult>, std::optional<NSError>>> outcome;
  std::map<std::string, std::string> query;
  const auto logIn = [&] {
    dialog.reset();
    outcome.reset();
    manager.logInWithReadPermissions({"public_profile"}, nullptr,
                                     [&](auto result, auto error) { outcome.emplace(result, error); });
    query.clear();
    if (dialog)
      for (const auto& item : dialog->queryItems()) query.emplace(item.name, item.value.value_or(""));
    return dialog.has_value();
  };
  // The page's text, or "" without a page.
  const auto send = [&](std::string answer) {
    if (auto at = answer.find("STATE"); at != std::string::npos) answer.replace(at, 5, query["state"]);
    const auto page = dataWithContentsOfURL(*URL::URLWithString(query["redirect_uri"] + "?" + answer), 10);
    return page ? page->toString() : std::string();
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.answer);
    ASSERT_TRUE(logIn());
    const std::string text = send(c.answer);
    EXPECT_NE(text.find("<title>" + c.title + "</title>"), std::string::npos) << text;
    EXPECT_NE(text.find("<p>" + c.message + "</p>"), std::string::npos) << text;

    ASSERT_TRUE(time.runUntil([&] { return outcome.has_value(); }, 10));
    const auto& [result, error] = *outcome;
    EXPECT_EQ(result && result->isCancelled(), c.cancelled);
    EXPECT_EQ(error ? std::optional(static_cast<FBSDKLoginErrorCode>(error->code)) : std::nullopt, c.error);
    const auto current = FBSDKAccessToken::currentAccessToken();
    EXPECT_EQ(current ? current->tokenString() : "", c.token);
  }

  // A cancel typed once the page sent the user back signs in all the same; an answer after a
  // cancel is not used, and its page says so.
  ASSERT_TRUE(logIn());
  EXPECT_NE(send("state=STATE&access_token=tok-3").find("<title>Back to the application</title>"), std::string::npos);
  EXPECT_EQ(BrowserSignIns::cancelAll(), 1u);
  ASSERT_TRUE(time.runUntil([&] { return outcome.has_value(); }, 10));
  EXPECT_EQ(FBSDKAccessToken::currentAccessToken()->tokenString(), "tok-3");
  ASSERT_TRUE(logIn());
  EXPECT_EQ(BrowserSignIns::cancelAll(), 1u);
  EXPECT_NE(send("state=STATE&access_token=tok-4").find("no longer waits for this sign-in"), std::string::npos);
  ASSERT_TRUE(time.runUntil([&] { return outcome.has_value(); }, 10));
  EXPECT_TRUE(outcome->first && outcome->first->isCancelled());
  EXPECT_EQ(FBSDKAccessToken::currentAccessToken()->tokenString(), "tok-3");

  // Another sign-in starting gives up a waiting dialog and says so; not one whose page took a token.
  std::ostringstream out;
  ASSERT_TRUE(logIn());
  EXPECT_EQ(FBSDKLoginDialogPresenter::current()->giveUpWaitingDialogs(out), 1u);
  ASSERT_TRUE(time.runUntil([&] { return outcome.has_value(); }, 10));
  EXPECT_TRUE(outcome->first && outcome->first->isCancelled());
  ASSERT_TRUE(logIn());
  send("state=STATE&access_token=tok-5");
  EXPECT_EQ(FBSDKLoginDialogPresenter::current()->giveUpWaitingDialogs(out), 0u);
  ASSERT_TRUE(time.runUntil([&] { return outcome.has_value(); }, 10));
  EXPECT_EQ(FBSDKAccessToken::currentAccessToken()->tokenString(), "tok-5");
  EXPECT_EQ(out.str(), "The Facebook sign-in that waited in the browser was given up.\n");
  FBSDKLoginDialogPresenter::setCurrent(nullptr);
  FBSDKAccessToken::setCurrentAccessToken(nullptr);
  FBSDKSettings::setAppID(std::nullopt);
  FBSDKSettings::setLoginDialogURL(std::nullopt);
  time.runUntilIdle();
}

TEST(FBSDKApplicationDelegateTest, LaunchesWithTheKeptTokenAndClaimsOnlyItsOwnURLScheme) {
  // Stays installed: once started, the cache writes to whatever store is current.
  auto previousRun = std::make_shared<MemoryKeychainStore>();
  KeychainStore::setCurrent(previousRun);
  FBSDKAccessToken::startTokenCache();
  FBSDKAccessToken::setCurrentAccessToken(
      std::make_shared<FBSDKAccessToken>("kept", std::set<std::string>{"email", "public_profile"},
                                         std::set<std::string>{"user_friends"}, "123", "u1", Date{100}));
  // A new process: nothing current, the keychain as the previous run left it.
  KeychainStore::setCurrent(std::make_shared<MemoryKeychainStore>());
  FBSDKAccessToken::setCurrentAccessToken(nullptr);
  KeychainStore::setCurrent(previousRun);
  const auto& delegate = FBSDKApplicationDelegate::sharedInstance();
  EXPECT_TRUE(delegate->application(nullptr, std::nullopt));
  const auto kept = FBSDKAccessToken::currentAccessToken();
  ASSERT_TRUE(kept);
  EXPECT_EQ(std::tuple(kept->tokenString(), kept->userID(), kept->appID(), kept->permissions(),
                       kept->declinedPermissions(), kept->expirationDate()->timeIntervalSinceReferenceDate),
            std::tuple("kept", "u1", "123", std::set<std::string>{"email", "public_profile"},
                       std::set<std::string>{"user_friends"}, 100.0));
  FBSDKLoginManager().logOut();
  FBSDKAccessToken::startTokenCache();
  EXPECT_FALSE(FBSDKAccessToken::currentAccessToken());

  const auto opens = [&](const char* text, std::optional<std::string> source = std::nullopt) {
    return delegate->application(nullptr, *URL::URLWithString(text), std::move(source), std::nullopt);
  };
  FBSDKSettings::setAppID(std::nullopt);
  EXPECT_FALSE(opens("fb://authorize"));

  FBSDKSettings::setAppID("1234567");
  EXPECT_TRUE(opens("fb1234567://authorize#access_token=x") && opens("FB1234567://authorize", "com.facebook.Facebook"));
  for (const char* other :
       {"fb12345678://authorize", "fb://authorize", "com.dorvale.app:/oauth2callback", "https://example.com/fb1234567"})
    EXPECT_FALSE(opens(other)) << other;
  FBSDKSettings::setAppID(std::nullopt);
}

TEST(FBSDKAccessTokenTest, ATokenTheCacheCannotKeepIsSaidOnStandardError) {
  const auto refusing = std::make_shared<RefusingKeychainStore>(KeychainFailure{"/cache/keychain", "Is a directory"});
  KeychainStore::setCurrent(refusing);
  FBSDKAccessToken::startTokenCache();
  refusing->setRefusing(true);
  testing::internal::CaptureStderr();
  FBSDKAccessToken::setCurrentAccessToken(
      std::make_shared<FBSDKAccessToken>("t1", std::set<std::string>{}, std::set<std::string>{}, "123", "u1"));
  // Signing out stores nothing.
  FBSDKAccessToken::setCurrentAccessToken(nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "dorvale: cannot save the sign-in in /cache/keychain (Is a directory): it lasts until the program ends\n");
  KeychainStore::setCurrent(std::make_shared<MemoryKeychainStore>());
}
