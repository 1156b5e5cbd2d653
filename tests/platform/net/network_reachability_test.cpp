#include "platform/net/network_reachability.h"

#include <gtest/gtest.h>

#include "platform/foundation/run_loop.h"
#include "support/virtual_time.h"

TEST(NetworkReachability, LoopbackHostsAreAlwaysReachable) {
  for (const char* host : {"127.0.0.1", "127.8.0.1", "localhost", "LocalHost.", "::1"}) {
    SCOPED_TRACE(host);
    EXPECT_TRUE(NetworkReachability::probeHost(host).reachable);
  }
  EXPECT_FALSE(NetworkReachability::createWithName(""));
}

TEST(NetworkReachability, ReportsTheFirstStatusThenOnlyChangesUntilUnscheduled) {
  VirtualTime time;
  NetworkReachabilityFlags status{true, false};
  NetworkReachability::setStatusSource([&](const std::string& host) {
    EXPECT_EQ(host, "accounts.example");
    return status;
  });
  std::vector<NetworkReachabilityFlags> reports;
  auto reachability = NetworkReachability::createWithName("accounts.example");
  reachability->setCallback([&](NetworkReachabilityFlags flags) { reports.push_back(flags); });
  ASSERT_TRUE(reachability->scheduleWithRunLoop(RunLoop::main()));
  EXPECT_FALSE(reachability->scheduleWithRunLoop(RunLoop::main()));
  time.runUntilIdle();
  time.advance(10);
  status = {false, false};
  time.advance(NetworkReachability::kPollInterval);
  time.advance(10);
  reachability->unscheduleFromRunLoop();
  status = {true, false};
  time.advance(10);
  EXPECT_EQ(reports, (std::vector<NetworkReachabilityFlags>{{true, false}, {false, false}}));
  NetworkReachability::setStatusSource(nullptr);
}
