#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/date.h"
#include "platform/foundation/url.h"

// Where a web sign-in in the user's browser comes back: a socket on an ephemeral port of
// 127.0.0.1 that waits for one GET request with a query, answers it with a short page that says
// what became of the answer and sends the user back to the application, and hands the request's
// URL (http://127.0.0.1:PORT/path?query) to the application's URL handling
// (UIApplication::deliverOpenURL), then to `completion`, on the main run loop. A GET without a
// query gets a page whose script loads it again with the browser's fragment as the query (an
// answer in the fragment never leaves the browser otherwise); other requests are answered 405.
// The wait goes on meanwhile. After `timeout` seconds of real time without that request,
// `completion` hears nothing. Destroying the receiver stops it.
class LoopbackRedirectReceiver {
 public:
  using Completion = std::function<void(std::optional<URL> redirect)>;

  // What the page tells the user of an answer, in plain text.
  struct Verdict {
    // The browser's part is over. Never a claim that anyone is signed in: when the page is served
    // the application has not finished with the answer yet.
    bool completed = false;
    std::string message;
  };
  // Runs on the receiver's thread, before the application sees the answer.
  using Judge = std::function<Verdict(const URL& redirect)>;
  // From the answer alone: the provider's "error_description" (else "error") when it refused, an
  // answer without "code" as incomplete, else handed on for the application to finish.
  static Verdict answerVerdict(const URL& redirect);
  // The page for a verdict (the message escaped).
  static std::string pageFor(const Verdict& verdict);

  // Seconds of real time a connection has to send its request head before it is closed.
  static constexpr TimeInterval kHeadDeadline = 5;

  // Listening; nullptr when no socket could be had. `judge` (answerVerdict by default) words
  // the page.
  static std::unique_ptr<LoopbackRedirectReceiver> start(TimeInterval timeout, Completion completion = {},
                                                         Judge judge = {}, TimeInterval headDeadline = kHeadDeadline);
  ~LoopbackRedirectReceiver();
  LoopbackRedirectReceiver(const LoopbackRedirectReceiver&) = delete;
  LoopbackRedirectReceiver& operator=(const LoopbackRedirectReceiver&) = delete;

  int port() const { return port_; }
  // The address to register as the redirect: http://127.0.0.1:PORT/ followed by `path`.
  URL redirectURL(const std::string& path = "") const;

 private:
  struct State;
  LoopbackRedirectReceiver(int port, std::shared_ptr<State> state);

  int port_;
  std::shared_ptr<State> state_;
};
