#include "platform/ui/loopback_redirect_receiver.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/foundation/run_loop.h"
#include "platform/ui/ui_application.h"

namespace {

// A browser may open a few connections ahead (and send nothing on them); each gets this much.
// Beyond it, one that has sent nothing makes room, and every one has kHeadDeadline to send its head.
constexpr std::size_t kMaxConnections = 8;
constexpr std::size_t kMaxRequestHead = 16 * 1024;

// Text from the query goes into the page: nothing of it may become markup.
std::string escapedHTML(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '&': out += "&amp;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out.push_back(c);
    }
  }
  return out;
}

// A browser keeps the fragment to itself, and a token answer comes there: this page sends it
// back as the query (the same characters, percent-encoding and all). With no fragment the
// empty query still ends the wait, as an answer that holds nothing.
constexpr std::string_view kForwardingPage =
    "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Signing in</title></head>"
    "<body><p>Going back to the application...</p>"
    "<script>location.replace(location.pathname + \"?\" + location.hash.slice(1));</script>"
    "<noscript><p>This page needs JavaScript to finish the sign-in.</p></noscript></body></html>";

void sendAll(int fd, std::string_view text) {
  while (!text.empty()) {
    ssize_t n = ::send(fd, text.data(), text.size(), MSG_NOSIGNAL);
    if (n <= 0) return;
    text.remove_prefix(static_cast<std::size_t>(n));
  }
}

void answer(int fd, std::string_view status, std::string_view body) {
  std::string head = "HTTP/1.1 " + std::string(status) +
                     "\r\nContent-Type: text/html; charset=utf-8\r\nConnection: close\r\nContent-Length: " +
                     std::to_string(body.size()) + "\r\n\r\n";
  sendAll(fd, head);
  sendAll(fd, body);
}

using Steady = std::chrono::steady_clock;

struct Connection {
  int fd;
  std::string head;
  Steady::time_point headDue;
};

Steady::duration after(TimeInterval seconds) {
  return std::chrono::duration_cast<Steady::duration>(std::chrono::duration<double>(seconds));
}

// Bytes read or waiting to be read: such a connection may be the browser's, however slow.
bool sentSomething(const Connection& c) {
  char byte;
  return !c.head.empty() || ::recv(c.fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) > 0;
}

}  // namespace

struct LoopbackRedirectReceiver::State {
  int listener = -1;
  int wake[2] = {-1, -1};
  int port = 0;
  TimeInterval headDeadline = LoopbackRedirectReceiver::kHeadDeadline;
  Judge judge;
  std::thread thread;

  ~State() {
    for (int fd : {listener, wake[0], wake[1]}) {
      if (fd >= 0) ::close(fd);
    }
  }

  // The request target of a complete GET head that carries a query, answered; "" for another
  // complete request (answered too); nothing until the head is complete.
  std::optional<std::string> takeRequest(Connection& c) const {
    auto end = c.head.find("\r\n\r\n");
    if (end == std::string::npos) return std::nullopt;
    auto lineEnd = c.head.find("\r\n");
    std::string line = c.head.substr(0, lineEnd);
    auto firstSpace = line.find(' ');
    auto lastSpace = line.rfind(' ');
    std::string method = line.substr(0, firstSpace);
    std::string target =
        firstSpace < lastSpace ? line.substr(firstSpace + 1, lastSpace - firstSpace - 1) : std::string();
    if (method != "GET" || target.empty() || target[0] != '/') {
      answer(c.fd, "405 Method Not Allowed", "");
      return std::string();
    }
    if (target.find('?') == std::string::npos) {
      answer(c.fd, "200 OK", kForwardingPage);
      return std::string();
    }
    const auto redirect = URL::URLWithString("http://127.0.0.1:" + std::to_string(port) + target);
    Verdict verdict{false, "The answer could not be read."};
    if (redirect) verdict = judge ? judge(*redirect) : answerVerdict(*redirect);
    answer(c.fd, "200 OK", pageFor(verdict));
    return target;
  }

  // On the thread: the first GET's target, or nothing once the time is up or the owner left.
  std::optional<std::string> wait(TimeInterval timeout) {
    const auto deadline = Steady::now() + after(timeout);
    std::vector<Connection> connections;
    auto closeAll = [&] {
      for (auto& c : connections) ::close(c.fd);
    };
    while (true) {
      const auto now = Steady::now();
      if (now >= deadline) break;
      // Silent or slow local clients may not hold the slots the browser's answer needs.
      auto next = deadline;
      for (std::size_t i = connections.size(); i-- > 0;) {
        if (connections[i].headDue <= now) {
          ::close(connections[i].fd);
          connections.erase(connections.begin() + static_cast<std::ptrdiff_t>(i));
        } else {
          next = std::min(next, connections[i].headDue);
        }
      }
      // With every slot taken by a connection that sent something, a new one waits in the
      // backlog until a slot frees rather than being turned away.
      const bool room =
          connections.size() < kMaxConnections ||
          std::any_of(connections.begin(), connections.end(), [](const Connection& c) { return !sentSomething(c); });
      std::vector<pollfd> fds{{wake[0], POLLIN, 0}, {listener, static_cast<short>(room ? POLLIN : 0), 0}};
      for (const auto& c : connections) fds.push_back({c.fd, POLLIN, 0});
      const auto untilNext = std::chrono::ceil<std::chrono::milliseconds>(next - now).count();
      int ready = ::poll(fds.data(), fds.size(), static_cast<int>(std::min<long long>(untilNext, 1000)));
      if (ready < 0 && errno != EINTR) break;
      if (ready <= 0) continue;
      if (fds[0].revents) break;
      for (std::size_t i = fds.size(); i-- > 2;) {
        if (!fds[i].revents) continue;
        auto& c = connections[i - 2];
        char buffer[4096];
        ssize_t n = ::recv(c.fd, buffer, sizeof buffer, 0);
        if (n > 0) c.head.append(buffer, static_cast<std::size_t>(n));
        std::optional<std::string> target;
        if (n > 0) target = takeRequest(c);
        if (target && !target->empty()) {
          closeAll();
          return target;
        }
        if (n <= 0 || target || c.head.size() > kMaxRequestHead) {
          ::close(c.fd);
          connections.erase(connections.begin() + static_cast<std::ptrdiff_t>(i - 2));
        }
      }
      if (fds[1].revents & POLLIN) admit(connections);
    }
    closeAll();
    return std::nullopt;
  }

  // All slots taken: the newcomer replaces the oldest connection that has sent nothing, if any.
  void admit(std::vector<Connection>& connections) const {
    int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    if (connections.size() >= kMaxConnections) {
      auto idle =
          std::find_if(connections.begin(), connections.end(), [](const Connection& c) { return !sentSomething(c); });
      if (idle == connections.end()) {
        ::close(fd);
        return;
      }
      ::close(idle->fd);
      connections.erase(idle);
    }
    connections.push_back({fd, {}, Steady::now() + after(headDeadline)});
  }
};

LoopbackRedirectReceiver::Verdict LoopbackRedirectReceiver::answerVerdict(const URL& redirect) {
  std::optional<std::string> error, description, code;
  for (const auto& item : redirect.queryItems()) {
    if (!item.value || item.value->empty()) continue;
    if (item.name == "error") error = item.value;
    if (item.name == "error_description") description = item.value;
    if (item.name == "code") code = item.value;
  }
  if (error || description) return {false, "The sign-in did not complete: " + (description ? *description : *error)};
  if (!code) return {false, "The sign-in did not complete: the answer holds no authorization."};
  // The sign-in is not over yet: the application still has to redeem the answer.
  return {true, "The provider answered. Go back to the application to finish signing in."};
}

std::string LoopbackRedirectReceiver::pageFor(const Verdict& verdict) {
  const char* title = verdict.completed ? "Back to the application" : "Sign-in not completed";
  const char* closing =
      verdict.completed ? "You can close this window." : "You can close this window and go back to the application.";
  return std::string("<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>") + title +
         "</title></head><body><p>" + escapedHTML(verdict.message) + "</p><p>" + closing + "</p></body></html>";
}

std::unique_ptr<LoopbackRedirectReceiver> LoopbackRedirectReceiver::start(TimeInterval timeout, Completion completion,
                                                                          Judge judge, TimeInterval headDeadline) {
  auto state = std::make_shared<State>();
  state->judge = std::move(judge);
  state->headDeadline = headDeadline;
  state->listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (state->listener < 0 || ::pipe2(state->wake, O_CLOEXEC) != 0) return nullptr;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof address;
  if (::bind(state->listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(state->listener, 8) != 0 ||
      ::getsockname(state->listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    return nullptr;
  }
  const int port = ntohs(address.sin_port);
  state->port = port;
  state->thread = std::thread([receiving = state.get(), timeout, port, done = std::move(completion)] {
    auto target = receiving->wait(timeout);
    std::optional<URL> redirect;
    if (target) redirect = URL::URLWithString("http://127.0.0.1:" + std::to_string(port) + *target);
    // Only a request (good or not) or the time running out is reported; an owner who left is not.
    if (!target) {
      pollfd woken{receiving->wake[0], POLLIN, 0};
      if (::poll(&woken, 1, 0) > 0) return;
    }
    RunLoop::main().post([redirect, done] {
      if (redirect) UIApplication::sharedApplication()->deliverOpenURL(*redirect);
      if (done) done(redirect);
    });
  });
  return std::unique_ptr<LoopbackRedirectReceiver>(new LoopbackRedirectReceiver(port, std::move(state)));
}

LoopbackRedirectReceiver::LoopbackRedirectReceiver(int port, std::shared_ptr<State> state)
    : port_(port), state_(std::move(state)) {}

LoopbackRedirectReceiver::~LoopbackRedirectReceiver() {
  char stop = 1;
  [[maybe_unused]] auto written = ::write(state_->wake[1], &stop, 1);
  if (state_->thread.joinable()) state_->thread.join();
}

URL LoopbackRedirectReceiver::redirectURL(const std::string& path) const {
  auto url = URL::URLWithString("http://127.0.0.1:" + std::to_string(port_) + "/" + path);
  return url ? *url : *URL::URLWithString("http://127.0.0.1:" + std::to_string(port_) + "/");
}
