#pragma once

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

// Bytes of request bodies held at once, by the front and by the calls that read them, up to a bound.
class ByteBudget {
 public:
  explicit ByteBudget(std::size_t bound) : bound_(bound) {}
  // False, taking nothing, past the bound.
  bool take(std::size_t bytes);
  void give(std::size_t bytes) { held_ -= bytes; }
  std::size_t held() const { return held_; }

  // What one holder took, given back when it goes.
  class Share {
   public:
    explicit Share(ByteBudget& budget) : budget_(budget) {}
    ~Share() { budget_.give(size_); }
    Share(const Share&) = delete;
    Share& operator=(const Share&) = delete;
    bool grow(std::size_t bytes) { return budget_.take(bytes) && (size_ += bytes, true); }
    void shrink(std::size_t bytes) { budget_.give(bytes), size_ -= bytes; }
    std::size_t size() const { return size_; }

   private:
    ByteBudget& budget_;
    std::size_t size_ = 0;
  };

 private:
  const std::size_t bound_;
  std::atomic<std::size_t> held_{0};
};

// Waits for every connection's request head on one thread, then for its body (once a worker let
// it in by its head), and gives a connection to a worker to answer only once the whole request is
// in, so slow or silent clients hold no worker. The answer has a deadline from its first byte, or
// from its last piece when it is written in pieces; between requests the connection goes back to
// waiting. A connection that ends after an answer is
// drained for a moment first, so that the answer is not lost to a reset while the client is still
// sending.
class ConnectionFront {
 public:
  using Clock = std::chrono::steady_clock;
  struct Limits {
    // From the start of a wait (the connection's first, or the end of its last answer) to the end
    // of the next head.
    std::chrono::milliseconds headDeadline{5000};
    // For the body, from the call's admission; and to write the answer, from its first byte or
    // the answer's last piece.
    std::chrono::milliseconds requestDeadline{5000};
    std::chrono::milliseconds lingerTime{2000};
    std::size_t maxHead = 64 << 10;
    // What a call may bring without an Admit to tell; what is drained from a closing connection.
    std::size_t maxBody = 8 << 20;
    // What all bodies held at once may take.
    std::size_t maxHeld = 256 << 20;
    std::size_t workers = 32;
    std::size_t requestsPerConnection = 100;
  };
  // Answers one request; false or `closed` ends the connection. `last`: it must say it closes.
  using Serve = std::function<bool(httplib::Stream& stream, bool last, bool& closed)>;
  // How many body bytes a call may bring, told by its head (method, path, headers) on a worker;
  // 0: none, the call is answered without its body.
  using Admit = std::function<std::size_t(const httplib::Request& head)>;
  // What became of the body of the request being served: it has none; all of it is in; Admit let
  // none in; it is past what Admit allows; it is past the budget. Only a held body can be read.
  enum class Body { none, held, refused, tooLarge, noRoom };

  ConnectionFront(const Limits& limits, Serve serve, Admit admit);
  ~ConnectionFront();
  ConnectionFront(const ConnectionFront&) = delete;
  ConnectionFront& operator=(const ConnectionFront&) = delete;

  void start();
  // Ends the threads and closes every connection; a worker gives up its request within 0.1 s.
  void stop();
  // Takes a connection just accepted.
  void adopt(int fd);
  // From within Serve: the connection ends once this answer is out.
  static void closeAfterAnswer();
  // From within Serve: a piece of the answer is out, so a long answer that keeps flowing is not
  // cut; the deadline counts from now.
  static void answerProgressed();
  // From within Serve: the request's body, and how many bytes of it the front holds.
  static Body body();
  static std::size_t heldBodyBytes();

  ByteBudget& budget() { return budget_; }

  struct Connection;

 private:
  void loop();
  void takeIncoming();
  void wait(std::unique_ptr<Connection> connection);
  void readHead(Connection& connection);
  // Answers `status` with no body and closes the connection.
  void refuse(Connection& connection, const char* status);
  // The head is in: on to a worker, for the call's admission or its answer.
  void headIn(Connection& connection);
  void readBody(Connection& connection);
  // Takes what arrived of the body; true once the connection went to a worker.
  bool feedBody(Connection& connection, const char* data, std::size_t size);
  void drain(Connection& connection);
  void sweep();
  void dispatch(int fd);
  void forget(int fd);
  void work();
  void admit(std::unique_ptr<Connection> connection);
  void serve(std::unique_ptr<Connection> connection);
  void hand(std::unique_ptr<Connection> connection);

  const Limits limits_;
  const Serve serve_;
  const Admit admit_;
  ByteBudget budget_;
  std::atomic<bool> stopping_{false};
  int epoll_ = -1;
  int wake_ = -1;
  // The loop thread's own.
  std::unordered_map<int, std::unique_ptr<Connection>> waiting_;
  Clock::time_point nextSweep_;

  std::mutex incomingMutex_;
  std::vector<std::unique_ptr<Connection>> incoming_;

  std::mutex workMutex_;
  std::condition_variable workReady_;
  std::deque<std::unique_ptr<Connection>> work_;

  std::thread loopThread_;
  std::vector<std::thread> workers_;
};

// The HTTP library's server with a ConnectionFront between its accept loop and its request
// handling: an accepted connection is handed over, not given a worker of the library's.
class FrontedServer : public httplib::Server {
 public:
  // `admit` as for ConnectionFront; without one every body is let in up to `limits.maxBody`.
  explicit FrontedServer(const ConnectionFront::Limits& limits, ConnectionFront::Admit admit = nullptr);
  // Serves until stop().
  bool listenAfterBind();
  ByteBudget& budget() { return front_.budget(); }

 private:
  bool process_and_close_socket(socket_t sock) override;

  ConnectionFront front_;
};
