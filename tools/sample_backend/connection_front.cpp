#include "connection_front.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>

struct ConnectionFront::Connection {
  explicit Connection(int socket) : fd(socket) {}
  ~Connection() { ::close(fd); }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  const int fd;
  // Received and not yet taken by a request: a head, or the start of one, and what follows it.
  std::string buffer;
  // How far the buffer was searched for the head's end.
  std::size_t scanned = 0;
  std::size_t headLength = 0;
  Clock::time_point deadline;
  std::size_t served = 0;
  std::size_t drained = 0;
  bool lingering = false;
};

namespace {

using Clock = ConnectionFront::Clock;

thread_local bool closeRequested = false;

bool interrupted() { return errno == EINTR; }
bool wouldBlock() { return errno == EAGAIN || errno == EWOULDBLOCK; }

void wakeUp(int eventFd) {
  const std::uint64_t one = 1;
  (void)!::write(eventFd, &one, sizeof one);
}

// Where the head at the start of `text` ends (past its empty line), else 0; searches from `from`.
std::size_t headEnd(const std::string& text, std::size_t from) {
  for (auto at = text.find('\n', from); at != std::string::npos; at = text.find('\n', at + 1)) {
    if (at + 1 < text.size() && text[at + 1] == '\n') return at + 2;
    if (at + 2 < text.size() && text[at + 1] == '\r' && text[at + 2] == '\n') return at + 3;
  }
  return 0;
}

void address(int fd, bool peer, std::string& ip, int& port) {
  sockaddr_in where{};
  socklen_t size = sizeof where;
  auto* raw = reinterpret_cast<sockaddr*>(&where);
  if ((peer ? getpeername(fd, raw, &size) : getsockname(fd, raw, &size)) != 0 || where.sin_family != AF_INET) return;
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &where.sin_addr, text, sizeof text);
  ip = text;
  port = ntohs(where.sin_port);
}

// One request's bytes: those the front read already, then the socket's, within a budget counted
// from the start of the head. Reading has `time` from the start; the answer has `time` from its
// first byte, however long the handler took.
class RequestStream final : public httplib::Stream {
 public:
  RequestStream(ConnectionFront::Connection& connection, std::chrono::milliseconds time, std::size_t budget,
                const std::atomic<bool>& stopping)
      : connection_(connection),
        time_(time),
        readDeadline_(Clock::now() + time),
        budget_(budget),
        stopping_(stopping) {}

  bool is_readable() const override { return offset_ < connection_.buffer.size() || ready(POLLIN, readDeadline_); }
  bool is_writable() const override { return ready(POLLOUT, answerDeadline()); }
  ssize_t read(char* ptr, size_t size) override;
  ssize_t write(const char* ptr, size_t size) override;
  void get_remote_ip_and_port(std::string& ip, int& port) const override { address(connection_.fd, true, ip, port); }
  void get_local_ip_and_port(std::string& ip, int& port) const override { address(connection_.fd, false, ip, port); }
  socket_t socket() const override { return connection_.fd; }

  bool failed() const { return failed_; }
  bool ended() const { return ended_; }
  bool overBudget() const { return overBudget_; }
  // Received past this request: the start of the next.
  std::string unread() const { return connection_.buffer.substr(offset_); }

 private:
  bool ready(short events, Clock::time_point deadline) const;
  // False at the end of the input or when it fails.
  bool fill();
  Clock::time_point answerDeadline() const {
    if (!answerStart_) answerStart_ = Clock::now();
    return *answerStart_ + time_;
  }

  ConnectionFront::Connection& connection_;
  const std::chrono::milliseconds time_;
  const Clock::time_point readDeadline_;
  // Since the first write after the last read: a "100 Continue" before the body does not count.
  mutable std::optional<Clock::time_point> answerStart_;
  const std::size_t budget_;
  const std::atomic<bool>& stopping_;
  std::size_t offset_ = 0;
  std::size_t consumed_ = 0;
  bool failed_ = false;
  bool ended_ = false;
  bool overBudget_ = false;
};

bool RequestStream::ready(short events, Clock::time_point deadline) const {
  pollfd item{connection_.fd, events, 0};
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0 || stopping_) return false;
    // In slices, so that a stop is seen.
    const int count = ::poll(&item, 1, int(std::min<std::int64_t>(left, 100)));
    if (count > 0) return true;
    if (count < 0 && !interrupted()) return false;
  }
}

bool RequestStream::fill() {
  char chunk[16384];
  for (;;) {
    const ssize_t count = ::recv(connection_.fd, chunk, sizeof chunk, 0);
    if (count > 0) {
      connection_.buffer.assign(chunk, std::size_t(count));
      offset_ = 0;
      return true;
    }
    if (count == 0) return !(ended_ = true);
    if (interrupted()) continue;
    if (!wouldBlock() || !ready(POLLIN, readDeadline_)) return !(failed_ = true);
  }
}

ssize_t RequestStream::read(char* ptr, size_t size) {
  answerStart_.reset();
  if (consumed_ >= budget_) {
    overBudget_ = true;
    return -1;
  }
  if (offset_ == connection_.buffer.size() && !fill()) return ended_ ? 0 : -1;
  const std::size_t count = std::min({size, connection_.buffer.size() - offset_, budget_ - consumed_});
  std::memcpy(ptr, connection_.buffer.data() + offset_, count);
  offset_ += count;
  consumed_ += count;
  return ssize_t(count);
}

ssize_t RequestStream::write(const char* ptr, size_t size) {
  if (!answerStart_) answerStart_ = Clock::now();
  for (;;) {
    const ssize_t count = ::send(connection_.fd, ptr, size, MSG_NOSIGNAL);
    if (count >= 0) return count;
    if (interrupted()) continue;
    if (!wouldBlock() || !ready(POLLOUT, answerDeadline())) {
      failed_ = true;
      return -1;
    }
  }
}

// Hands an accepted connection over on the accept thread itself, which is all the hand-over takes.
class InlineQueue final : public httplib::TaskQueue {
 public:
  void enqueue(std::function<void()> task) override { task(); }
  void shutdown() override {}
};

}  // namespace

ConnectionFront::ConnectionFront(const Limits& limits, Serve serve) : limits_(limits), serve_(std::move(serve)) {}

ConnectionFront::~ConnectionFront() { stop(); }

void ConnectionFront::closeAfterAnswer() { closeRequested = true; }

void ConnectionFront::start() {
  epoll_ = epoll_create1(EPOLL_CLOEXEC);
  wake_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.fd = wake_;
  epoll_ctl(epoll_, EPOLL_CTL_ADD, wake_, &event);
  loopThread_ = std::thread([this] { loop(); });
  for (std::size_t i = 0; i < limits_.workers; ++i) workers_.emplace_back([this] { work(); });
}

void ConnectionFront::stop() {
  {
    std::lock_guard lock(workMutex_);
    stopping_ = true;
  }
  workReady_.notify_all();
  if (wake_ >= 0) wakeUp(wake_);
  if (loopThread_.joinable()) loopThread_.join();
  for (auto& worker : workers_) worker.join();
  workers_.clear();
  waiting_.clear();
  work_.clear();
  incoming_.clear();
  for (int* fd : {&epoll_, &wake_}) {
    if (*fd >= 0) ::close(*fd);
    *fd = -1;
  }
}

void ConnectionFront::adopt(int fd) {
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  // An answer goes out in two writes, head and body: without this the second waits for an ack.
  const int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  auto connection = std::make_unique<Connection>(fd);
  connection->deadline = Clock::now() + limits_.headDeadline;
  hand(std::move(connection));
}

void ConnectionFront::hand(std::unique_ptr<Connection> connection) {
  {
    std::lock_guard lock(incomingMutex_);
    incoming_.push_back(std::move(connection));
  }
  wakeUp(wake_);
}

void ConnectionFront::loop() {
  epoll_event events[64];
  while (!stopping_) {
    const int count = epoll_wait(epoll_, events, 64, 100);
    for (int i = 0; i < count; ++i) {
      const int fd = events[i].data.fd;
      if (fd == wake_) {
        takeIncoming();
        continue;
      }
      const auto found = waiting_.find(fd);
      if (found == waiting_.end()) continue;
      if (found->second->lingering) drain(*found->second);
      else readHead(*found->second);
    }
    if (Clock::now() >= nextSweep_) sweep();
  }
}

void ConnectionFront::takeIncoming() {
  std::uint64_t count = 0;
  (void)!::read(wake_, &count, sizeof count);
  std::vector<std::unique_ptr<Connection>> taken;
  {
    std::lock_guard lock(incomingMutex_);
    taken.swap(incoming_);
  }
  for (auto& connection : taken) wait(std::move(connection));
}

void ConnectionFront::wait(std::unique_ptr<Connection> connection) {
  const int fd = connection->fd;
  Connection& waiting = *(waiting_[fd] = std::move(connection));
  epoll_event event{};
  event.events = EPOLLIN | EPOLLRDHUP;
  event.data.fd = fd;
  if (epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event) != 0) return forget(fd);
  // The client sent its next request with the last one.
  if (!waiting.lingering && (waiting.headLength = headEnd(waiting.buffer, 0))) dispatch(fd);
}

void ConnectionFront::readHead(Connection& connection) {
  char chunk[4096];
  while (connection.buffer.size() <= limits_.maxHead) {
    const ssize_t count = ::recv(connection.fd, chunk, sizeof chunk, 0);
    if (count < 0 && interrupted()) continue;
    if (count < 0 && wouldBlock()) return;
    if (count <= 0) return forget(connection.fd);
    connection.buffer.append(chunk, std::size_t(count));
    if ((connection.headLength = headEnd(connection.buffer, connection.scanned))) return dispatch(connection.fd);
    // A "\n\r" at the end may be completed by the next bytes.
    connection.scanned = connection.buffer.size() - std::min<std::size_t>(connection.buffer.size(), 2);
  }
  static constexpr char kTooLarge[] =
      "HTTP/1.1 431 Request Header Fields Too Large\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
  (void)!::send(connection.fd, kTooLarge, sizeof kTooLarge - 1, MSG_NOSIGNAL);
  ::shutdown(connection.fd, SHUT_WR);
  connection.lingering = true;
  connection.deadline = Clock::now() + limits_.lingerTime;
}

void ConnectionFront::drain(Connection& connection) {
  char chunk[16384];
  // A little at a time, so that one fast sender does not hold up the heads of the others.
  for (int round = 0; round < 4; ++round) {
    const ssize_t count = ::recv(connection.fd, chunk, sizeof chunk, 0);
    if (count < 0 && interrupted()) continue;
    if (count < 0 && wouldBlock()) return;
    if (count <= 0 || (connection.drained += std::size_t(count)) > limits_.maxBody) return forget(connection.fd);
  }
}

void ConnectionFront::sweep() {
  const auto now = Clock::now();
  nextSweep_ = now + std::chrono::milliseconds(100);
  std::vector<int> expired;
  for (const auto& [fd, connection] : waiting_)
    if (connection->deadline <= now) expired.push_back(fd);
  for (int fd : expired) forget(fd);
}

void ConnectionFront::forget(int fd) { waiting_.erase(fd); }

void ConnectionFront::dispatch(int fd) {
  const auto found = waiting_.find(fd);
  epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
  auto connection = std::move(found->second);
  waiting_.erase(found);
  {
    std::lock_guard lock(workMutex_);
    work_.push_back(std::move(connection));
  }
  workReady_.notify_one();
}

void ConnectionFront::work() {
  for (;;) {
    std::unique_lock lock(workMutex_);
    workReady_.wait(lock, [this] { return stopping_ || !work_.empty(); });
    if (stopping_) return;
    auto connection = std::move(work_.front());
    work_.pop_front();
    lock.unlock();
    serve(std::move(connection));
  }
}

void ConnectionFront::serve(std::unique_ptr<Connection> connection) {
  const bool last = ++connection->served >= limits_.requestsPerConnection;
  bool closed = false;
  RequestStream stream(*connection, limits_.requestDeadline, connection->headLength + limits_.maxBody, stopping_);
  closeRequested = false;
  if (!serve_(stream, last, closed) || stream.failed()) return;
  connection->buffer = stream.unread();
  connection->scanned = 0;
  connection->lingering = closed || last || closeRequested || stream.overBudget() || stream.ended();
  if (connection->lingering) ::shutdown(connection->fd, SHUT_WR);
  connection->deadline = Clock::now() + (connection->lingering ? limits_.lingerTime : limits_.headDeadline);
  hand(std::move(connection));
}

FrontedServer::FrontedServer(const ConnectionFront::Limits& limits)
    : front_(limits, [this](httplib::Stream& stream, bool last, bool& closed) {
        return process_request(stream, last, closed, nullptr);
      }) {
  new_task_queue = [] { return new InlineQueue; };
  set_keep_alive_max_count(limits.requestsPerConnection);
  set_keep_alive_timeout(std::chrono::duration_cast<std::chrono::seconds>(limits.headDeadline).count());
}

bool FrontedServer::listenAfterBind() {
  front_.start();
  const bool listened = listen_after_bind();
  front_.stop();
  return listened;
}

bool FrontedServer::process_and_close_socket(socket_t sock) {
  front_.adopt(sock);
  return true;
}
