#include "connection_deadlines.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <filesystem>
#include <set>
#include <string>

namespace {

// The client port of `fd` when it is a connection accepted on `port`, else 0.
int clientPortOf(int fd, int port) {
  sockaddr_in local{}, peer{};
  socklen_t size = sizeof local;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &size) != 0 || local.sin_family != AF_INET ||
      ntohs(local.sin_port) != port)
    return 0;
  size = sizeof peer;
  if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &size) != 0) return 0;
  return ntohs(peer.sin_port);
}

}  // namespace

void ConnectionDeadlines::start(int port) {
  port_ = port;
  thread_ = std::thread([this] { watch(); });
}

void ConnectionDeadlines::stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void ConnectionDeadlines::requestRead(int clientPort) {
  std::lock_guard lock(mutex_);
  connections_[clientPort] = {Clock::now() + deadline_, true};
}

void ConnectionDeadlines::answered(int clientPort) {
  std::lock_guard lock(mutex_);
  connections_[clientPort] = {Clock::now() + deadline_, false};
}

void ConnectionDeadlines::watch() {
  std::unique_lock lock(mutex_);
  while (!wake_.wait_for(lock, std::chrono::milliseconds(200), [this] { return stopping_; })) {
    lock.unlock();
    sweep();
    lock.lock();
  }
}

void ConnectionDeadlines::sweep() {
  std::error_code error;
  std::set<int> seen;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", error)) {
    const int fd = std::stoi(entry.path().filename().string());
    const int client = clientPortOf(fd, port_);
    if (client == 0) continue;
    seen.insert(client);
    std::lock_guard lock(mutex_);
    auto [connection, added] = connections_.try_emplace(client, Connection{Clock::now() + deadline_});
    if (added || connection->second.answering || Clock::now() < connection->second.deadline) continue;
    // The library sees the end of its input and closes the connection itself.
    if (clientPortOf(fd, port_) == client) shutdown(fd, SHUT_RDWR);
  }
  std::lock_guard lock(mutex_);
  std::erase_if(connections_, [&seen](const auto& item) { return !seen.count(item.first); });
}
