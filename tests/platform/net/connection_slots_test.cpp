#include "platform/net/connection_slots.h"

#include <gtest/gtest.h>

namespace net_detail {
namespace {

TEST(ConnectionSlotsTest, ASessionKeepsToItsTotalAndAFreedSlotGoesToTheFirstWaiterItsHostLetsIn) {
  ConnectionSlots slots;
  const ConnectionSlots::Limits limits{.perHost = 2, .total = 3};
  const ConnectionSlots::TimePoint due{};
  const int pictures = 0, backend = 0;  // two sessions
  ConnectionSlots::Ticket x1, x2, x3, y1, y2, other;
  EXPECT_TRUE(slots.take(x1, nullptr, &pictures, "x:80", limits, due));
  EXPECT_TRUE(slots.take(x2, nullptr, &pictures, "x:80", limits, due));
  EXPECT_FALSE(slots.take(x3, nullptr, &pictures, "x:80", limits, due)) << "its host is full";
  EXPECT_TRUE(slots.take(y1, nullptr, &pictures, "y:80", limits, due));
  EXPECT_FALSE(slots.take(y2, nullptr, &pictures, "y:80", limits, due)) << "the session is full";
  EXPECT_TRUE(slots.take(other, nullptr, &backend, "y:80", limits, due)) << "another session's total is its own";
  slots.release(y1);
  EXPECT_FALSE(x3.running) << "passed over: its host is still full";
  EXPECT_TRUE(y2.running);
  slots.release(x1);
  EXPECT_TRUE(x3.running);
  for (auto* ticket : {&x2, &x3, &y2, &other}) slots.release(*ticket);
}

}  // namespace
}  // namespace net_detail
