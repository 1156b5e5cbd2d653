#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

class RunLoop;
class Timer;

// What is known about the road to a host.
struct NetworkReachabilityFlags {
  bool reachable = false;
  bool connectionRequired = false;
  bool operator==(const NetworkReachabilityFlags&) const = default;
};

// Watches whether a host can be reached and reports each change on a run loop. The status comes
// from a source that tests replace; the default one looks at the machine's network interfaces.
// The first report follows scheduling, later ones only follow changes.
class NetworkReachability : public std::enable_shared_from_this<NetworkReachability> {
 public:
  using Callback = std::function<void(NetworkReachabilityFlags flags)>;
  using StatusSource = std::function<NetworkReachabilityFlags(const std::string& host)>;

  // Seconds between two looks at the source while scheduled.
  static constexpr double kPollInterval = 2.0;

  // Nothing for an empty host name.
  static std::shared_ptr<NetworkReachability> createWithName(std::string host);
  // nullptr puts the interface probe back.
  static void setStatusSource(StatusSource source);
  // The interface probe: loopback hosts are always reachable; any other host is reachable while
  // an interface other than loopback is up and has an address.
  static NetworkReachabilityFlags probeHost(const std::string& host);

  explicit NetworkReachability(std::string host) : host_(std::move(host)) {}
  ~NetworkReachability();
  NetworkReachability(const NetworkReachability&) = delete;
  NetworkReachability& operator=(const NetworkReachability&) = delete;

  const std::string& host() const { return host_; }
  void setCallback(Callback callback);
  // False when already scheduled.
  bool scheduleWithRunLoop(RunLoop& runLoop);
  void unscheduleFromRunLoop();
  // The source's answer now.
  NetworkReachabilityFlags flags() const;

 private:
  void poll();

  const std::string host_;
  mutable std::mutex mutex_;
  Callback callback_;
  std::shared_ptr<Timer> timer_;
  std::optional<NetworkReachabilityFlags> lastReported_;
};
