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

// A browser may open a few connections ahead (and send nothing on them), and local processes may
// hold many. Beyond this many a newcomer takes the slot of another (makeRoom), and every one has
// kHeadDeadline to send its head.
constexpr std::size_t kMaxConnections = 64;
constexpr std::size_t kMaxRequestHead = 16 * 1024;
// Without a descriptor to spare and none of ours to give up, the listener rests this long.
constexpr auto kListenerRest = std::chrono::milliseconds(100);

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
  // complete request (answered too); nothing until the head is complete. The head's end is looked
  // for from `from` on: what came before was searched already.
  std::optional<std::string> takeRequest(Connection& c, std::size_t from) const {
    auto end = c.head.find("\r\n\r\n", from);
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

  // Reads what has arrived without waiting. False once the connection is done with: closed by
  // its peer, answered (`target` then holds an answer's target) or over-long.
  bool readFrom(Connection& c, std::optional<std::string>& target) const {
    char buffer[4096];
    while (true) {
      const ssize_t n = ::recv(c.fd, buffer, sizeof buffer, MSG_DONTWAIT);
      if (n <= 0) return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR);
      const std::size_t searched = c.head.size() < 3 ? 0 : c.head.size() - 3;
      c.head.append(buffer, static_cast<std::size_t>(n));
      if (auto request = takeRequest(c, searched)) {
        if (!request->empty()) target = std::move(request);
        return false;
      }
      if (c.head.size() > kMaxRequestHead) return false;
      // A short read took all there was.
      if (static_cast<std::size_t>(n) < sizeof buffer) return true;
    }
  }

  // Reads every connection `arrived` picks by index; those done with are closed.
  template <class Arrived>
  void readArrived(std::vector<Connection>& connections, std::optional<std::string>& target, Arrived arrived) const {
    for (std::size_t i = connections.size(); i-- > 0 && !target;) {
      if (!arrived(i) || readFrom(connections[i], target)) continue;
      ::close(connections[i].fd);
      connections.erase(connections.begin() + static_cast<std::ptrdiff_t>(i));
    }
  }

  // Brings the connections below `limit`. What has already arrived is read first, so a head that
  // came whole is answered; then the oldest connection that has sent nothing goes, else the oldest
  // whose head is still not whole: a browser sends its head at once.
  void makeRoom(std::vector<Connection>& connections, std::optional<std::string>& target, std::size_t limit) const {
    readArrived(connections, target, [](std::size_t) { return true; });
    while (!target && !connections.empty() && connections.size() >= limit) {
      auto victim =
          std::find_if(connections.begin(), connections.end(), [](const Connection& c) { return c.head.empty(); });
      if (victim == connections.end()) victim = connections.begin();
      ::close(victim->fd);
      connections.erase(victim);
    }
  }

  // On the thread: the first GET's target, or nothing once the time is up or the owner left.
  std::optional<std::string> wait(TimeInterval timeout) {
    const auto deadline = Steady::now() + after(timeout);
    std::vector<Connection> connections;
    std::optional<std::string> target;
    Steady::time_point listenerRests{};
    std::vector<pollfd> fds;
    while (!target) {
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
      // The listener is read whatever the slots hold, so the browser's connection never waits
      // behind local ones for a slot to free.
      const bool listening = listenerRests <= now;
      if (!listening) next = std::min(next, listenerRests);
      fds.assign({{wake[0], POLLIN, 0}, {listener, static_cast<short>(listening ? POLLIN : 0), 0}});
      for (const auto& c : connections) fds.push_back({c.fd, POLLIN, 0});
      const auto untilNext = std::chrono::ceil<std::chrono::milliseconds>(next - now).count();
      int ready = ::poll(fds.data(), fds.size(), static_cast<int>(std::clamp<long long>(untilNext, 0, 1000)));
      if (ready < 0 && errno != EINTR) break;
      if (ready <= 0) continue;
      if (fds[0].revents) break;
      readArrived(connections, target, [&](std::size_t i) { return fds[i + 2].revents != 0; });
      if (!target && (fds[1].revents & POLLIN)) admit(connections, target, listenerRests);
    }
    for (auto& c : connections) ::close(c.fd);
    return target;
  }

  // A newcomer always gets a slot: the browser's connection may come after any number of others.
  void admit(std::vector<Connection>& connections, std::optional<std::string>& target,
             Steady::time_point& listenerRests) const {
    int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == ECONNABORTED || errno == EINTR) return;
      // Out of descriptors, one of ours gives its own up; with none of ours, or another fault, the
      // listener rests rather than spins.
      if ((errno == EMFILE || errno == ENFILE) && !connections.empty()) {
        makeRoom(connections, target, connections.size());
      } else {
        listenerRests = Steady::now() + kListenerRest;
      }
      return;
    }
    if (connections.size() >= kMaxConnections) makeRoom(connections, target, kMaxConnections);
    if (target) {
      ::close(fd);
      return;
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
  state->listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (state->listener < 0 || ::pipe2(state->wake, O_CLOEXEC) != 0) return nullptr;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof address;
  if (::bind(state->listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(state->listener, SOMAXCONN) != 0 ||
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
