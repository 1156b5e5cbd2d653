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

// Waits for every connection's request head on one thread and gives a connection to a worker only
// once its head is in, so slow or silent clients hold no worker. A worker's deadline for the rest
// of the request (body and answer) starts when it takes the connection; between requests the
// connection goes back to waiting. A connection that ends after an answer is drained for a moment
// first, so that the answer is not lost to a reset while the client is still sending.
class ConnectionFront {
 public:
  using Clock = std::chrono::steady_clock;
  struct Limits {
    // From the start of a wait (the connection's first, or the end of its last answer) to the end
    // of the next head.
    std::chrono::milliseconds headDeadline{5000};
    // For a worker to read the body; and to write the answer, from its first byte.
    std::chrono::milliseconds requestDeadline{5000};
    std::chrono::milliseconds lingerTime{2000};
    std::size_t maxHead = 64 << 10;
    // What a worker reads past the head; more fails the read.
    std::size_t maxBody = 8 << 20;
    std::size_t workers = 32;
    std::size_t requestsPerConnection = 100;
  };
  // Answers one request; false or `closed` ends the connection. `last`: it must say it closes.
  using Serve = std::function<bool(httplib::Stream& stream, bool last, bool& closed)>;

  ConnectionFront(const Limits& limits, Serve serve);
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

  struct Connection;

 private:
  void loop();
  void takeIncoming();
  void wait(std::unique_ptr<Connection> connection);
  void readHead(Connection& connection);
  void drain(Connection& connection);
  void sweep();
  void dispatch(int fd);
  void forget(int fd);
  void work();
  void serve(std::unique_ptr<Connection> connection);
  void hand(std::unique_ptr<Connection> connection);

  const Limits limits_;
  const Serve serve_;
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
  explicit FrontedServer(const ConnectionFront::Limits& limits);
  // Serves until stop().
  bool listenAfterBind();

 private:
  bool process_and_close_socket(socket_t sock) override;

  ConnectionFront front_;
};
