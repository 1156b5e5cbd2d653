#include "platform/net/connection_slots.h"

#include <gtest/gtest.h>

#include <vector>

namespace net_detail {
namespace {

using std::chrono::seconds;

TEST(ConnectionSlotsTest, ASessionKeepsToItsTotalAndAFreedSlotGoesToTheFirstWaiterItsHostLetsIn) {
  ConnectionSlots slots;
  const ConnectionSlots::Limits limits{.perHost = 2, .total = 3};
  const ConnectionSlots::TimePoint t0{};
  const int pictures = 0, backend = 0;  // two sessions
  ConnectionSlots::Ticket x1, x2, x3, y1, y2, other;
  EXPECT_TRUE(slots.take(x1, nullptr, &pictures, "x:80", limits, t0 + seconds(9)));
  EXPECT_TRUE(slots.take(x2, nullptr, &pictures, "x:80", limits, t0 + seconds(9)));
  EXPECT_FALSE(slots.take(x3, nullptr, &pictures, "x:80", limits, t0 + seconds(3))) << "its host is full";
  EXPECT_TRUE(slots.take(y1, nullptr, &pictures, "y:80", limits, t0 + seconds(9)));
  EXPECT_FALSE(slots.take(y2, nullptr, &pictures, "y:80", limits, t0 + seconds(2))) << "the session is full";
  EXPECT_TRUE(slots.take(other, nullptr, &backend, "y:80", limits, t0)) << "another session's total is its own";

  std::vector<std::shared_ptr<Transfer>> expired;
  slots.expired(t0 + seconds(2), expired);
  EXPECT_EQ(expired.size(), 1u);
  EXPECT_EQ(slots.nextDeadline(), t0 + seconds(2));
  slots.release(y1);
  EXPECT_FALSE(x3.running) << "passed over: its host is still full";
  EXPECT_TRUE(y2.running);
  EXPECT_EQ(slots.nextDeadline(), t0 + seconds(3));
  slots.release(x1);
  EXPECT_TRUE(x3.running);
  EXPECT_EQ(slots.nextDeadline(), ConnectionSlots::TimePoint::max());
  for (auto* ticket : {&x2, &x3, &y2, &other}) slots.release(*ticket);
  EXPECT_TRUE(slots.take(x1, nullptr, &pictures, "x:80", {.perHost = 1, .total = 1}, t0));
}

}  // namespace
}  // namespace net_detail
