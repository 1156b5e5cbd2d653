#include "platform/net/network_reachability.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include "platform/foundation/ascii.h"
#include "platform/foundation/run_loop.h"

namespace {

std::mutex sourceMutex;
NetworkReachability::StatusSource statusSource;

struct IfaddrsDeleter {
  void operator()(ifaddrs* list) const { freeifaddrs(list); }
};

bool isLoopbackHost(std::string_view name) {
  auto host = asciiLowercase(name);
  if (!host.empty() && host.back() == '.') host.pop_back();
  return host == "localhost" || host.ends_with(".localhost") || host.starts_with("127.") || host == "::1";
}

bool hasUsableInterface() {
  ifaddrs* raw = nullptr;
  if (getifaddrs(&raw) != 0) return false;
  const std::unique_ptr<ifaddrs, IfaddrsDeleter> list(raw);
  for (const ifaddrs* entry = list.get(); entry; entry = entry->ifa_next) {
    if (!entry->ifa_addr) continue;
    const auto family = entry->ifa_addr->sa_family;
    if (family != AF_INET && family != AF_INET6) continue;
    const auto flags = entry->ifa_flags;
    if ((flags & IFF_UP) && (flags & IFF_RUNNING) && !(flags & IFF_LOOPBACK)) return true;
  }
  return false;
}

}  // namespace

std::shared_ptr<NetworkReachability> NetworkReachability::createWithName(std::string host) {
  if (host.empty()) return nullptr;
  return std::make_shared<NetworkReachability>(std::move(host));
}

void NetworkReachability::setStatusSource(StatusSource source) {
  std::lock_guard lock(sourceMutex);
  statusSource = std::move(source);
}

NetworkReachabilityFlags NetworkReachability::probeHost(const std::string& host) {
  return {isLoopbackHost(host) || hasUsableInterface(), false};
}

NetworkReachability::~NetworkReachability() {
  if (timer_) timer_->invalidate();
}

void NetworkReachability::setCallback(Callback callback) {
  std::lock_guard lock(mutex_);
  callback_ = std::move(callback);
}

bool NetworkReachability::scheduleWithRunLoop(RunLoop& runLoop) {
  std::lock_guard lock(mutex_);
  if (timer_) return false;
  lastReported_.reset();
  std::weak_ptr<NetworkReachability> weak = weak_from_this();
  timer_ = runLoop.scheduledTimer(kPollInterval, true, [weak](Timer&) {
    if (auto self = weak.lock()) self->poll();
  });
  runLoop.post([weak] {
    if (auto self = weak.lock()) self->poll();
  });
  return true;
}

void NetworkReachability::unscheduleFromRunLoop() {
  std::shared_ptr<Timer> timer;
  {
    std::lock_guard lock(mutex_);
    timer = std::move(timer_);
    timer_.reset();
  }
  if (timer) timer->invalidate();
}

NetworkReachabilityFlags NetworkReachability::flags() const {
  StatusSource source;
  {
    std::lock_guard lock(sourceMutex);
    source = statusSource;
  }
  return source ? source(host_) : probeHost(host_);
}

void NetworkReachability::poll() {
  const auto current = flags();
  Callback callback;
  {
    std::lock_guard lock(mutex_);
    if (!timer_ || lastReported_ == current) return;
    lastReported_ = current;
    callback = callback_;
  }
  if (callback) callback(current);
}
