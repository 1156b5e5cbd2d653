#include "platform/foundation/fatal_error.h"

#include <gtest/gtest.h>

TEST(FatalErrorDeathTest, PrintsAndStops) { EXPECT_DEATH(fatalError("missing outlet"), "Fatal error: missing outlet"); }
