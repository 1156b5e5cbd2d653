#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <sstream>
#include <thread>

#include "controller_test_support.h"
#include "platform/foundation/run_loop.h"
#include "platform/ui/external_browser.h"
#include "platform/ui/loopback_redirect_receiver.h"
#include "platform/ui/url_contents.h"
#include "support/fake_backend.h"

namespace {

TEST(ExternalBrowserTest, TheCommandFollowsTheEnvironment) {
  using Env = std::map<std::string, std::string>;
  struct Case {
    Env env;
    std::vector<std::string> command;
  };
  const std::string url = "https://example.com/sign-in?next=%2Fhome";
  const std::vector<Case> cases{
      {{{"DORVALE_BROWSER", "/opt/browser --new-window"}, {"DISPLAY", ":0"}}, {"/opt/browser", "--new-window", url}},
      {{{"DORVALE_BROWSER", ""}, {"DISPLAY", ":0"}}, {"xdg-open", url}},
      {{{"WAYLAND_DISPLAY", "wayland-0"}}, {"xdg-open", url}},
      {{{"DISPLAY", ""}}, {}},
      {{}, {}},
  };
  for (const auto& c : cases) {
    auto lookup = [&](const char* name) -> const char* {
      auto it = c.env.find(name);
      return it == c.env.end() ? nullptr : it->second.c_str();
    };
    EXPECT_EQ(ExternalBrowser::commandFor(*URL::URLWithString(url), lookup), c.command) << c.env.size();
  }
}

class OpenedURLs : public UIApplicationDelegate {
 public:
  bool applicationOpenURL(UIApplication&, const URL& url, const std::optional<std::string>&, const Value&) override {
    opened.push_back(url.absoluteString());
    return true;
  }
  std::vector<std::string> opened;
};

class RedirectTest : public ControllerTest {
 protected:
  RedirectTest() { UIApplication::sharedApplication()->setDelegate(app); }

  // ExternalBrowser::open with `browser` as the user's browser.
  static bool openWith(const char* browser, const URL& url, std::ostream& out) {
    const char* previous = std::getenv(ExternalBrowser::kBrowserVariable);
    const std::string kept = previous ? previous : "";
    setenv(ExternalBrowser::kBrowserVariable, browser, 1);
    const bool started = ExternalBrowser::open(url, out);
    previous ? setenv(ExternalBrowser::kBrowserVariable, kept.c_str(), 1) : unsetenv(ExternalBrowser::kBrowserVariable);
    return started;
  }

  std::shared_ptr<OpenedURLs> app = std::make_shared<OpenedURLs>();
};

TEST_F(RedirectTest, TheReceiverHandsOneLoopbackRequestToTheApplicationOrGivesUp) {
  std::vector<std::optional<URL>> heard;
  auto receiver = LoopbackRedirectReceiver::start(10, [&](std::optional<URL> url) { heard.push_back(url); });
  ASSERT_TRUE(receiver);
  // Without a query the page forwards the browser's fragment, and the wait goes on.
  auto forwarding = dataWithContentsOfURL(receiver->redirectURL("done"), 10);
  ASSERT_TRUE(forwarding);
  EXPECT_NE(forwarding->toString().find("location.hash"), std::string::npos);
  const auto redirect = receiver->redirectURL("done?code=7&state=x");
  EXPECT_EQ(redirect.absoluteString(), "http://127.0.0.1:" + std::to_string(receiver->port()) + "/done?code=7&state=x");
  auto page = dataWithContentsOfURL(redirect, 10);
  ASSERT_TRUE(page);
  EXPECT_NE(page->toString().find("close this window"), std::string::npos);
  // The application has yet to redeem the code: the page may not say that anyone is signed in.
  EXPECT_NE(page->toString().find("<title>Back to the application</title>"), std::string::npos);
  ASSERT_TRUE(time.runUntil([&] { return !heard.empty(); }, 10));
  EXPECT_EQ(heard, std::vector<std::optional<URL>>{redirect});
  EXPECT_EQ(app->opened, std::vector<std::string>{redirect.absoluteString()});

  auto impatient = LoopbackRedirectReceiver::start(0.05, [&](std::optional<URL> url) { heard.push_back(url); });
  ASSERT_TRUE(time.runUntil([&] { return heard.size() == 2; }, 10));
  EXPECT_EQ(heard.back(), std::nullopt);
  EXPECT_EQ(app->opened.size(), 1u);
}

// The whole road of a web sign-in: the browser opens the provider's page, which redirects to
// the receiver, which hands the address to the application.
TEST_F(RedirectTest, TheTestBrowserFollowsTheProvidersRedirectToTheReceiver) {
  auto receiver = LoopbackRedirectReceiver::start(10);
  ASSERT_TRUE(receiver);
  FakeBackend provider;
  const auto back = receiver->redirectURL("cb?code=42");
  provider.reply("GET", "/authorize", ScriptedReply{302, {{"Location", back.absoluteString()}}});
  std::ostringstream started, out;
  ASSERT_TRUE(openWith(TEST_BROWSER_PATH, *URL::URLWithString(provider.url("authorize")), started)) << started.str();
  ASSERT_TRUE(time.runUntil([&] { return !app->opened.empty(); }, 10));
  EXPECT_EQ(app->opened, std::vector<std::string>{back.absoluteString()});
  // The page may not come up: the user hears where the sign-in waits all the same.
  EXPECT_EQ(started.str(),
            "The sign-in waits in the browser: finish it there, or type 'cancel' to give up. If no page came up, open "
            "this address: " +
                provider.url("authorize") + "\n");

  EXPECT_FALSE(openWith("/nonexistent/browser", back, out));
  EXPECT_EQ(out.str(),
            "Cannot start /nonexistent/browser: No such file or directory\n"
            "The sign-in waits in a browser: open this address there, or type 'cancel' to give up: " +
                back.absoluteString() + "\n");
}

// A token answer comes in the fragment, which the browser keeps: the receiver's page sends it on.
TEST_F(RedirectTest, AnAnswerInTheFragmentReachesTheApplicationAsTheQuery) {
  auto receiver = LoopbackRedirectReceiver::start(10);
  ASSERT_TRUE(receiver);
  FakeBackend provider;
  provider.reply(
      "GET", "/authorize",
      ScriptedReply{302, {{"Location", receiver->redirectURL("cb").absoluteString() + "#state=s%201&t=a+b"}}});
  std::ostringstream out;
  ASSERT_TRUE(openWith(TEST_BROWSER_PATH, *URL::URLWithString(provider.url("authorize")), out)) << out.str();
  ASSERT_TRUE(time.runUntil([&] { return !app->opened.empty(); }, 10));
  EXPECT_EQ(app->opened, std::vector<std::string>{receiver->redirectURL("cb?state=s%201&t=a+b").absoluteString()});
}

// A local client of the receiver that writes what it is told and reads until the receiver closes.
class LocalClient {
 public:
  explicit LocalClient(int port) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
    // A listener that stops accepting may not hold a test past its own bounds.
    timeval connectTimeout{0, 200'000};
    ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &connectTimeout, sizeof connectTimeout);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~LocalClient() { ::close(fd_); }
  LocalClient(const LocalClient&) = delete;
  LocalClient& operator=(const LocalClient&) = delete;

  int fd() const { return fd_; }
  bool connected() const { return connected_; }
  void send(std::string_view text) {
    ASSERT_EQ(::send(fd_, text.data(), text.size(), MSG_NOSIGNAL), ssize_t(text.size()));
  }
  // What came until the receiver closed; nothing when it stays open for `timeout` seconds.
  std::optional<std::string> readToEnd(double timeout) {
    std::string got;
    pollfd ready{fd_, POLLIN, 0};
    while (::poll(&ready, 1, static_cast<int>(timeout * 1000)) > 0) {
      char buffer[4096];
      ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
      if (n <= 0) return got;
      got.append(buffer, static_cast<std::size_t>(n));
    }
    return std::nullopt;
  }

 private:
  int fd_;
  bool connected_ = false;
};

// Local processes that connect and send nothing may not keep the browser's answer out: a
// newcomer takes the slot of the oldest of them before that of a connection that sent something.
TEST_F(RedirectTest, IdleLocalConnectionsGiveWayToTheBrowsersAnswer) {
  std::vector<std::optional<URL>> heard;
  {
    // Waiting out the head deadline would let every answer in, but only after the fetch gave up.
    auto receiver = LoopbackRedirectReceiver::start(
        30, [&](std::optional<URL> url) { heard.push_back(url); }, {}, 60);
    ASSERT_TRUE(receiver);
    LocalClient slow(receiver->port());
    slow.send("GET /cb?code=slow HTTP/1.1\r\n");
    std::vector<std::unique_ptr<LocalClient>> idle;
    for (int i = 0; i < 65; ++i) idle.push_back(std::make_unique<LocalClient>(receiver->port()));
    ASSERT_TRUE(slow.connected() && idle.back()->connected());
    // The two oldest silent ones made room for the last two.
    EXPECT_EQ(idle[0]->readToEnd(10), "");
    EXPECT_EQ(idle[1]->readToEnd(10), "");
    slow.send("Host: 127.0.0.1\r\n\r\n");
    auto page = slow.readToEnd(10);
    ASSERT_TRUE(page);
    EXPECT_NE(page->find("<title>Back to the application</title>"), std::string::npos);
    ASSERT_TRUE(time.runUntil([&] { return heard.size() == 1; }, 10));
    EXPECT_EQ(heard[0], receiver->redirectURL("cb?code=slow"));
  }

  auto receiver = LoopbackRedirectReceiver::start(
      30, [&](std::optional<URL> url) { heard.push_back(url); }, {}, 60);
  ASSERT_TRUE(receiver);
  std::vector<std::unique_ptr<LocalClient>> idle;
  for (int i = 0; i < 64; ++i) idle.push_back(std::make_unique<LocalClient>(receiver->port()));
  const auto redirect = receiver->redirectURL("cb?code=7");
  std::optional<NSError> error;
  ASSERT_TRUE(dataWithContentsOfURL(redirect, 10, &error)) << (error ? error->localizedDescription() : "");
  ASSERT_TRUE(time.runUntil([&] { return heard.size() == 2; }, 10));
  EXPECT_EQ(heard[1], redirect);
  EXPECT_EQ(app->opened.back(), redirect.absoluteString());
}

// Connections that sent part of a head and then stall are closed at the head deadline; the
// browser's connection is not turned away meanwhile.
TEST_F(RedirectTest, StalledHeadsAreClosedAndTheAnswerStillGetsIn) {
  std::vector<std::optional<URL>> heard;
  auto receiver = LoopbackRedirectReceiver::start(
      30, [&](std::optional<URL> url) { heard.push_back(url); }, {}, 0.2);
  ASSERT_TRUE(receiver);
  std::vector<std::unique_ptr<LocalClient>> stalled;
  for (int i = 0; i < 64; ++i) {
    stalled.push_back(std::make_unique<LocalClient>(receiver->port()));
    stalled.back()->send("G");
  }
  const auto redirect = receiver->redirectURL("cb?code=8");
  std::optional<NSError> error;
  ASSERT_TRUE(dataWithContentsOfURL(redirect, 10, &error)) << (error ? error->localizedDescription() : "");
  for (auto& client : stalled) EXPECT_EQ(client->readToEnd(10), "");
  ASSERT_TRUE(time.runUntil([&] { return !heard.empty(); }, 10));
  EXPECT_EQ(heard, std::vector<std::optional<URL>>{redirect});
}

// A few connections, silent or with a head begun, leave the answer's way open at once.
TEST_F(RedirectTest, AFewSilentOrSlowConnectionsLetTheAnswerInAtOnce) {
  using Steady = std::chrono::steady_clock;
  for (const std::string begun : {"", "GET /cb?code=slow HT"}) {
    SCOPED_TRACE(begun);
    std::vector<std::optional<URL>> heard;
    auto receiver = LoopbackRedirectReceiver::start(
        30, [&](std::optional<URL> url) { heard.push_back(url); }, {}, 60);
    ASSERT_TRUE(receiver);
    std::vector<std::unique_ptr<LocalClient>> others;
    for (int i = 0; i < 8; ++i) {
      others.push_back(std::make_unique<LocalClient>(receiver->port()));
      if (!begun.empty()) others.back()->send(begun);
    }
    const auto redirect = receiver->redirectURL("cb?code=10");
    const auto sent = Steady::now();
    ASSERT_TRUE(dataWithContentsOfURL(redirect, 10));
    ASSERT_TRUE(time.runUntil([&] { return !heard.empty(); }, 10));
    EXPECT_LT(Steady::now() - sent, std::chrono::seconds(2));
    EXPECT_EQ(heard, std::vector<std::optional<URL>>{redirect});
  }
}

// Local processes that send a byte and reconnect as soon as they are closed may not hold the
// port in turn: the answer takes the slot of the oldest head that is not whole.
TEST_F(RedirectTest, OneByteSendersThatReconnectGiveWayToTheBrowsersAnswer) {
  using Steady = std::chrono::steady_clock;
  std::vector<std::optional<URL>> heard;
  auto receiver = LoopbackRedirectReceiver::start(
      30, [&](std::optional<URL> url) { heard.push_back(url); }, {}, 60);
  ASSERT_TRUE(receiver);
  auto connect = [port = receiver->port()] {
    auto client = std::make_unique<LocalClient>(port);
    (void)::send(client->fd(), "G", 1, MSG_NOSIGNAL);
    return client;
  };
  std::vector<std::unique_ptr<LocalClient>> senders(64);
  for (auto& sender : senders) sender = connect();
  std::jthread reconnecting([&](std::stop_token stop) {
    const auto until = Steady::now() + std::chrono::seconds(30);
    std::vector<pollfd> fds(senders.size());
    while (!stop.stop_requested() && Steady::now() < until) {
      for (std::size_t i = 0; i < senders.size(); ++i) fds[i] = {senders[i]->fd(), POLLIN, 0};
      if (::poll(fds.data(), fds.size(), 100) <= 0) continue;
      for (std::size_t i = 0; i < senders.size() && !stop.stop_requested(); ++i) {
        if (fds[i].revents) senders[i] = connect();
      }
    }
  });
  const auto redirect = receiver->redirectURL("cb?code=9");
  const auto sent = Steady::now();
  std::optional<NSError> error;
  ASSERT_TRUE(dataWithContentsOfURL(redirect, 10, &error)) << (error ? error->localizedDescription() : "");
  ASSERT_TRUE(time.runUntil([&] { return !heard.empty(); }, 10));
  EXPECT_LT(Steady::now() - sent, std::chrono::seconds(2));
  EXPECT_EQ(heard, std::vector<std::optional<URL>>{redirect});
}

}  // namespace
