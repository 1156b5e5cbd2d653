#include "record_test_support.h"

#include <cstdlib>
#include <ctime>

namespace {
// Runs before main, so before anything reads the local zone. A POSIX rule needs no zone database.
const bool kZonePinned = [] {
  setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
  tzset();
  return true;
}();
}  // namespace
