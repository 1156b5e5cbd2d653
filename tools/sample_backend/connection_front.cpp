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

#include <fmt/format.h>
#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>

namespace {

// Finds where a chunked body ends, without decoding it: the HTTP library decodes it later.
class ChunkScanner {
 public:
  // How many of the `size` bytes belong to the body; done() once its end is among them. Junk
  // ends it too: the library then refuses the call.
  std::size_t scan(const char* data, std::size_t size);
  bool done() const { return state_ == State::done; }

 private:
  enum class State { size, extension, data, dataEnd, trailer, done };
  void lineEnd() { state_ = left_ > 0 ? State::data : State::trailer; }

  State state_ = State::size;
  std::uint64_t left_ = 0;
};

std::size_t ChunkScanner::scan(const char* data, std::size_t size) {
  std::size_t at = 0;
  while (at < size && state_ != State::done) {
    const char c = data[at];
    if (state_ == State::data) {
      const std::size_t part = std::size_t(std::min<std::uint64_t>(left_, size - at));
      at += part;
      if ((left_ -= part) == 0) state_ = State::dataEnd;
      continue;
    }
    ++at;
    switch (state_) {
      case State::size:
        if (std::isxdigit(static_cast<unsigned char>(c)) && left_ < (std::uint64_t(1) << 56))
          left_ = left_ * 16 + std::uint64_t(std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : (c | 0x20) - 'a' + 10);
        else if (c == ';' || c == ' ' || c == '\t') state_ = State::extension;
        else if (c == '\n') lineEnd();
        else if (c != '\r') state_ = State::done;
        break;
      case State::extension:
        if (c == '\n') lineEnd();
        break;
      case State::dataEnd:
        if (c == '\n') state_ = State::size;
        break;
      case State::trailer:
        // The library takes one line after the last chunk, and fails on any but an empty one.
        if (c == '\n') state_ = State::done;
        break;
      default:
        break;
    }
  }
  return at;
}

// Part of a body as it arrived, with what it counts against the budget.
struct Block {
  std::string bytes;
  std::size_t counted = 0;
};

}  // namespace

struct ConnectionFront::Connection {
  Connection(int socket, ByteBudget& budget) : fd(socket), held(budget) {}
  ~Connection() { ::close(fd); }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Gives the held body back to the budget.
  void dropBody() {
    blocks.clear();
    held.shrink(held.size());
  }

  const int fd;
  // Received and not yet taken by a request: a head, or the start of one, and what follows it.
  // From the end of the head on, the head alone.
  std::string buffer;
  // How far the buffer was searched for the head's end.
  std::size_t scanned = 0;
  std::size_t headLength = 0;
  Clock::time_point deadline;
  std::size_t served = 0;
  std::size_t drained = 0;
  bool lingering = false;
  enum class Stage { head, admitting, body, serving } stage = Stage::head;

  // What the head says, for the admission and for finding the end of the body.
  httplib::Request head;
  bool chunked = false;
  std::uint64_t length = 0;
  bool continueAsked = false;
  bool continueSent = false;
  std::size_t limit = 0;
  std::size_t received = 0;
  ChunkScanner chunks;
  Body body = Body::none;
  // The body as it arrived, given back to the budget as the worker reads it.
  std::deque<Block> blocks;
  ByteBudget::Share held;
  // Received past the request: the start of the next.
  std::string after;
};

namespace {

using Clock = ConnectionFront::Clock;
using Body = ConnectionFront::Body;
using Stage = ConnectionFront::Connection::Stage;

// A held body's blocks: the first small, for a slow sender, the others above the allocator's mmap
// threshold, so that each goes back to the system when freed.
constexpr std::size_t kFirstBlock = 4 << 10;
constexpr std::size_t kBlock = 256 << 10;
constexpr char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";

thread_local bool closeRequested = false;
thread_local const ConnectionFront::Connection* serving = nullptr;

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

// Reads the head in the buffer into `connection.head` and what it says of the body.
void parseHead(ConnectionFront::Connection& connection) {
  const std::string_view text(connection.buffer.data(), connection.headLength);
  httplib::Request& head = connection.head = httplib::Request();
  const auto trimmed = [](std::string_view part) {
    const auto first = part.find_first_not_of(" \t\r");
    return first == std::string_view::npos ? std::string_view()
                                           : part.substr(first, part.find_last_not_of(" \t\r") - first + 1);
  };
  std::size_t at = text.find('\n');
  const std::string_view line = text.substr(0, at);
  const std::string_view target = line.substr(line.find(' ') + 1);
  head.method = line.substr(0, line.find(' '));
  head.path = httplib::detail::decode_url(std::string(target.substr(0, target.find_first_of(" ?"))), false);
  while (at < text.size()) {
    const std::size_t next = text.find('\n', at + 1);
    const std::string_view field = text.substr(at + 1, next - at - 1);
    at = next;
    const auto colon = field.find(':');
    if (colon != std::string_view::npos)
      head.headers.emplace(std::string(trimmed(field.substr(0, colon))), std::string(trimmed(field.substr(colon + 1))));
  }
  // As the HTTP library takes them.
  connection.chunked = strcasecmp(head.get_header_value("Transfer-Encoding").c_str(), "chunked") == 0;
  connection.length = std::strtoull(head.get_header_value("Content-Length").c_str(), nullptr, 10);
  connection.continueAsked = head.get_header_value("Expect") == "100-continue";
  const bool takesBody = head.method == "POST" || head.method == "PUT" || head.method == "PATCH" ||
                         head.method == "PRI" || (head.method == "DELETE" && head.has_header("Content-Length"));
  connection.body = takesBody && (connection.chunked || connection.length > 0) ? Body::held : Body::none;
}

// One request's bytes, all received already: its head, then its body. The answer has `time` from
// its first byte, however long the handler took.
class RequestStream final : public httplib::Stream {
 public:
  RequestStream(ConnectionFront::Connection& connection, std::chrono::milliseconds time,
                const std::atomic<bool>& stopping)
      : connection_(connection), time_(time), stopping_(stopping) {}

  bool is_readable() const override {
    return offset_ < connection_.buffer.size() || !connection_.blocks.empty();
  }
  bool is_writable() const override { return ready(POLLOUT, answerDeadline()); }
  ssize_t read(char* ptr, size_t size) override;
  ssize_t write(const char* ptr, size_t size) override;
  void get_remote_ip_and_port(std::string& ip, int& port) const override { address(connection_.fd, true, ip, port); }
  void get_local_ip_and_port(std::string& ip, int& port) const override { address(connection_.fd, false, ip, port); }
  socket_t socket() const override { return connection_.fd; }

  bool failed() const { return failed_; }
  void progressed() { answerStart_.reset(); }

 private:
  bool ready(short events, Clock::time_point deadline) const;
  Clock::time_point answerDeadline() const {
    if (!answerStart_) answerStart_ = Clock::now();
    return *answerStart_ + time_;
  }

  ConnectionFront::Connection& connection_;
  const std::chrono::milliseconds time_;
  // Since the first write after the last read.
  mutable std::optional<Clock::time_point> answerStart_;
  const std::atomic<bool>& stopping_;
  std::size_t offset_ = 0;
  std::size_t blockOffset_ = 0;
  bool failed_ = false;
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

ssize_t RequestStream::read(char* ptr, size_t size) {
  answerStart_.reset();
  if (offset_ < connection_.buffer.size()) {
    const std::size_t count = std::min(size, connection_.buffer.size() - offset_);
    std::memcpy(ptr, connection_.buffer.data() + offset_, count);
    offset_ += count;
    return ssize_t(count);
  }
  // The request ends where the front found its end; what follows is the next one's.
  if (connection_.blocks.empty()) return 0;
  Block& block = connection_.blocks.front();
  const std::size_t count = std::min(size, block.bytes.size() - blockOffset_);
  std::memcpy(ptr, block.bytes.data() + blockOffset_, count);
  if ((blockOffset_ += count) == block.bytes.size()) {
    // Read bodies are not held twice.
    connection_.held.shrink(block.counted);
    connection_.blocks.pop_front();
    blockOffset_ = 0;
  }
  return ssize_t(count);
}

ssize_t RequestStream::write(const char* ptr, size_t size) {
  // The front sent the "100 Continue" when it let the body in.
  if (connection_.continueSent && std::string_view(ptr, size) == kContinue) {
    connection_.continueSent = false;
    return ssize_t(size);
  }
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

thread_local RequestStream* answering = nullptr;

// Hands an accepted connection over on the accept thread itself, which is all the hand-over takes.
class InlineQueue final : public httplib::TaskQueue {
 public:
  void enqueue(std::function<void()> task) override { task(); }
  void shutdown() override {}
};

}  // namespace

bool ByteBudget::take(std::size_t bytes) {
  std::size_t held = held_.load();
  do {
    if (bytes > bound_ - std::min(held, bound_)) return false;
  } while (!held_.compare_exchange_weak(held, held + bytes));
  return true;
}

ConnectionFront::ConnectionFront(const Limits& limits, Serve serve, Admit admit)
    : limits_(limits), serve_(std::move(serve)), admit_(std::move(admit)), budget_(limits.maxHeld) {}

ConnectionFront::~ConnectionFront() { stop(); }

void ConnectionFront::closeAfterAnswer() { closeRequested = true; }

void ConnectionFront::answerProgressed() {
  if (answering) answering->progressed();
}

ConnectionFront::Body ConnectionFront::body() { return serving ? serving->body : Body::none; }

std::size_t ConnectionFront::heldBodyBytes() { return serving ? serving->received : 0; }

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
  auto connection = std::make_unique<Connection>(fd, budget_);
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
      Connection& connection = *found->second;
      if (connection.lingering) drain(connection);
      else if (connection.stage == Stage::body) readBody(connection);
      else readHead(connection);
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
  if (waiting.lingering) return;
  if (waiting.stage == Stage::body) {
    // What came with the head.
    const std::string early = std::move(waiting.after);
    waiting.after.clear();
    if (!early.empty()) feedBody(waiting, early.data(), early.size());
  } else if ((waiting.headLength = headEnd(waiting.buffer, 0))) {
    // The client sent its next request with the last one.
    headIn(waiting);
  }
}

void ConnectionFront::readHead(Connection& connection) {
  char chunk[4096];
  while (connection.buffer.size() <= limits_.maxHead) {
    const ssize_t count = ::recv(connection.fd, chunk, sizeof chunk, 0);
    if (count < 0 && interrupted()) continue;
    if (count < 0 && wouldBlock()) return;
    if (count <= 0) return forget(connection.fd);
    connection.buffer.append(chunk, std::size_t(count));
    if ((connection.headLength = headEnd(connection.buffer, connection.scanned))) return headIn(connection);
    // A "\n\r" at the end may be completed by the next bytes.
    connection.scanned = connection.buffer.size() - std::min<std::size_t>(connection.buffer.size(), 2);
  }
  refuse(connection, "431 Request Header Fields Too Large");
}

void ConnectionFront::refuse(Connection& connection, const char* status) {
  const std::string answer = fmt::format("HTTP/1.1 {}\r\nContent-Length: 0\r\nConnection: close\r\n\r\n", status);
  (void)!::send(connection.fd, answer.data(), answer.size(), MSG_NOSIGNAL);
  ::shutdown(connection.fd, SHUT_WR);
  connection.dropBody();
  connection.lingering = true;
  connection.deadline = Clock::now() + limits_.lingerTime;
}

void ConnectionFront::headIn(Connection& connection) {
  parseHead(connection);
  connection.after = connection.buffer.substr(connection.headLength);
  connection.buffer.resize(connection.headLength);
  // A body waits for its admission on a worker: the call's token is checked before any of it is read.
  connection.stage = connection.body == Body::none ? Stage::serving : Stage::admitting;
  dispatch(connection.fd);
}

void ConnectionFront::readBody(Connection& connection) {
  char chunk[16384];
  // A little at a time, so that one fast sender does not hold up the others.
  for (int round = 0; round < 16; ++round) {
    const ssize_t count = ::recv(connection.fd, chunk, sizeof chunk, 0);
    if (count < 0 && interrupted()) continue;
    if (count < 0 && wouldBlock()) return;
    if (count <= 0) return forget(connection.fd);
    if (feedBody(connection, chunk, std::size_t(count))) return;
  }
}

bool ConnectionFront::feedBody(Connection& connection, const char* data, std::size_t size) {
  const std::size_t part =
      connection.chunked ? connection.chunks.scan(data, size)
                         : std::size_t(std::min<std::uint64_t>(size, connection.length - connection.received));
  const bool whole = connection.chunked ? connection.chunks.done() : connection.received + part == connection.length;
  connection.after.append(data + part, size - part);
  const auto decide = [&](Body body) {
    connection.body = body;
    if (body != Body::held) connection.dropBody();
    connection.stage = Stage::serving;
    dispatch(connection.fd);
    return true;
  };
  // Counted as they arrive: a declared length takes nothing.
  if ((connection.received += part) > connection.limit) return decide(Body::tooLarge);
  for (std::size_t taken = 0; taken < part;) {
    if (connection.blocks.empty() || connection.blocks.back().bytes.size() == kBlock) connection.blocks.emplace_back();
    Block& block = connection.blocks.back();
    if (block.bytes.size() == block.counted) {
      const std::size_t room =
          std::min(kBlock, std::max({kFirstBlock, 2 * block.counted, block.bytes.size() + part - taken}));
      if (!connection.held.grow(room - block.counted)) return decide(Body::noRoom);
      block.bytes.reserve(room);
      block.counted = room;
    }
    const std::size_t count = std::min(part - taken, block.counted - block.bytes.size());
    block.bytes.append(data + taken, count);
    taken += count;
  }
  return whole && decide(Body::held);
}

void ConnectionFront::drain(Connection& connection) {
  char chunk[16384];
  // A little at a time, so that one fast sender does not hold up the heads of the others.
  for (int round = 0; round < 4; ++round) {
    const ssize_t count = ::recv(connection.fd, chunk, sizeof chunk, 0);
    if (count < 0 && interrupted()) continue;
    if (count < 0 && wouldBlock()) return;
    // A body refused by its declared length may still come whole: one just over the cap is read
    // to its end, so that its sender gets to read the refusal rather than a reset.
    if (count <= 0 || (connection.drained += std::size_t(count)) > 2 * limits_.maxBody) return forget(connection.fd);
  }
}

void ConnectionFront::sweep() {
  const auto now = Clock::now();
  nextSweep_ = now + std::chrono::milliseconds(100);
  std::vector<int> expired;
  for (const auto& [fd, connection] : waiting_)
    if (connection->deadline <= now) expired.push_back(fd);
  for (int fd : expired) {
    Connection& connection = *waiting_[fd];
    if (connection.stage == Stage::body && !connection.lingering) refuse(connection, "408 Request Timeout");
    else forget(fd);
  }
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
    if (connection->stage == Stage::admitting) admit(std::move(connection));
    else serve(std::move(connection));
  }
}

void ConnectionFront::admit(std::unique_ptr<Connection> connection) {
  Connection& call = *connection;
  call.limit = admit_ ? admit_(call.head) : limits_.maxBody;
  if (call.limit == 0) call.body = Body::refused;
  else if (!call.chunked && call.length > call.limit) call.body = Body::tooLarge;
  if (call.body != Body::held) return serve(std::move(connection));
  if (call.continueAsked)
    call.continueSent = ::send(call.fd, kContinue, sizeof kContinue - 1, MSG_NOSIGNAL) == sizeof kContinue - 1;
  call.stage = Stage::body;
  call.deadline = Clock::now() + limits_.requestDeadline;
  hand(std::move(connection));
}

void ConnectionFront::serve(std::unique_ptr<Connection> connection) {
  const bool last = ++connection->served >= limits_.requestsPerConnection;
  bool closed = false;
  RequestStream stream(*connection, limits_.requestDeadline, stopping_);
  closeRequested = false;
  serving = connection.get();
  answering = &stream;
  const bool answered = serve_(stream, last, closed);
  serving = nullptr;
  answering = nullptr;
  if (!answered || stream.failed()) return;
  // A body that was not read whole is still on its way: the connection can carry no further call.
  const bool bodyLeft =
      !connection->blocks.empty() || (connection->body != Body::none && connection->body != Body::held);
  connection->lingering = closed || last || closeRequested || bodyLeft;
  connection->dropBody();
  connection->buffer = connection->lingering ? std::string() : std::move(connection->after);
  connection->after.clear();
  connection->scanned = 0;
  connection->received = 0;
  connection->chunks = ChunkScanner();
  connection->continueSent = false;
  connection->stage = Stage::head;
  if (connection->lingering) ::shutdown(connection->fd, SHUT_WR);
  connection->deadline = Clock::now() + (connection->lingering ? limits_.lingerTime : limits_.headDeadline);
  hand(std::move(connection));
}

FrontedServer::FrontedServer(const ConnectionFront::Limits& limits, ConnectionFront::Admit admit)
    : front_(
          limits,
          [this](httplib::Stream& stream, bool last, bool& closed) {
            return process_request(stream, last, closed, nullptr);
          },
          std::move(admit)) {
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
