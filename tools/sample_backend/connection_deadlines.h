#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

// Ends connections to 127.0.0.1:`port` that take longer than `deadline` to deliver a request (head
// and body) or stay idle that long between requests, so slow or silent clients cannot hold the
// workers. The HTTP library hands out no sockets, so this one finds them among the process's
// descriptors; connections are known by their client port.
class ConnectionDeadlines {
 public:
  explicit ConnectionDeadlines(std::chrono::milliseconds deadline) : deadline_(deadline) {}
  ~ConnectionDeadlines() { stop(); }
  ConnectionDeadlines(const ConnectionDeadlines&) = delete;
  ConnectionDeadlines& operator=(const ConnectionDeadlines&) = delete;

  void start(int port);
  void stop();
  // The request from `clientPort` is in: no deadline while it is answered.
  void requestRead(int clientPort);
  // Its answer is out: the next request has the whole deadline.
  void answered(int clientPort);

 private:
  using Clock = std::chrono::steady_clock;
  struct Connection {
    Clock::time_point deadline;
    bool answering = false;
  };
  void watch();
  void sweep();

  const std::chrono::milliseconds deadline_;
  int port_ = 0;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::map<int, Connection> connections_;  // by client port
  std::thread thread_;
};
