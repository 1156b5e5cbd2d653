#include "platform/foundation/date_formatter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "support/scoped_env.h"

namespace {

// Pins the device zone to Central European time.
class DateFormatterTest : public ::testing::Test {
 protected:
  // NaN for nothing, so that no expected instant matches it.
  static double unix(const std::optional<Date>& d) { return d ? d->timeIntervalSince1970() : std::nan(""); }

  ScopedEnv tz_{"TZ", "CET-1CEST,M3.5.0,M10.5.0/3"};
  DateFormatter fixed{"yyyy-MM-dd HH:mm:ss"};
};

}  // namespace

TEST_F(DateFormatterTest, FixedPatternReadsLocalTimeAndWritesItBack) {
  // CEST is UTC+2, CET UTC+1; -1 is a valid time, not mktime's error.
  for (const auto& [text, seconds] : {std::pair{"2015-10-21 14:05:00", 1445429100.0},
                                      {"2015-01-02 03:04:05", 1420164245.0},
                                      {"1970-01-01 00:59:59", -1.0},
                                      {"2016-02-29 00:00:00", 1456700400.0}}) {
    EXPECT_EQ(unix(fixed.dateFromString(text)), seconds) << text;
    EXPECT_EQ(fixed.stringFromDate(Date::dateWithTimeIntervalSince1970(seconds)), text);
  }
  EXPECT_EQ(fixed.stringFromDate(Date::dateWithTimeIntervalSince1970(1445429100.9)), "2015-10-21 14:05:00");
  EXPECT_TRUE(fixed.dateFromString("2000-02-29 12:00:00"));

  // A change of TZ is seen by the next call.
  {
    ScopedEnv utc("TZ", "UTC0");
    EXPECT_EQ(fixed.stringFromDate(Date::dateWithTimeIntervalSince1970(1445429100)), "2015-10-21 12:05:00");
    EXPECT_EQ(unix(fixed.dateFromString("2015-10-21 12:05:00")), 1445429100.0);
  }

  // Fixed-field patterns other than the wire one take the same strict road.
  DateFormatter dotted("dd.MM.yyyy 'at' HH''mm");
  EXPECT_EQ(unix(dotted.dateFromString("21.10.2015 at 14'05")), 1445429100.0);
  EXPECT_EQ(dotted.stringFromDate(Date::dateWithTimeIntervalSince1970(1445429100)), "21.10.2015 at 14'05");
  EXPECT_FALSE(dotted.dateFromString("21.10.2015 at 14'5"));
}

TEST_F(DateFormatterTest, FixedPatternRefusesAnythingLoose) {
  // Loose forms.
  for (const char* bad :
       {"2015-1-2 3:4:5", "2015-01-02 3:04:05", " 2015-01-02 03:04:05", "2015-01-02 03:04:05 ", "2015-01-02 03:04:05Z",
        "2015-01-02  03:04:05", "2015-01-02T03:04:05", "2015-01-02", "", "+015-01-01 00:00:00", "20150-01-01 00:00:00",
        "2015-01-01 00:00:0\xff", "\xd9\xa2\xd9\xa0\xd9\xa1\xd9\xa5-01-01 00:00:00"})
    EXPECT_FALSE(fixed.dateFromString(bad)) << bad;
  // Dates and times that do not exist.
  for (const char* bad : {"2015-02-30 00:00:00", "2015-02-29 00:00:00", "1900-02-29 00:00:00", "2015-04-31 00:00:00",
                          "2015-13-01 00:00:00", "2015-00-10 00:00:00", "2015-01-00 00:00:00", "2015-01-01 24:00:00",
                          "2015-01-01 23:60:00", "2015-01-01 23:59:60", "0000-01-01 00:00:00",
                          "2016-02-30 02:30:00"})
    EXPECT_FALSE(fixed.dateFromString(bad)) << bad;
  EXPECT_FALSE(fixed.dateFromString(std::string_view("2015-01-01 00:00:00\0", 20)));

  // The hour the clocks skip reads moved forward by the hour: 02:30 is 03:30 summer time.
  for (const auto& [text, seconds, shown] :
       {std::tuple{"2016-03-27 02:30:00", 1459042200.0, "2016-03-27 03:30:00"},
        {"2016-03-27 02:00:00", 1459040400.0, "2016-03-27 03:00:00"},
        {"2016-03-27 02:59:59", 1459043999.0, "2016-03-27 03:59:59"}}) {
    EXPECT_EQ(unix(fixed.dateFromString(text)), seconds) << text;
    EXPECT_EQ(fixed.stringFromDate(Date::dateWithTimeIntervalSince1970(seconds)), shown);
  }
  EXPECT_EQ(unix(fixed.dateFromString("2016-03-27 03:00:00")), 1459040400.0);

  // The hour the clocks repeat still reads, as one of its two instants.
  auto repeated = fixed.dateFromString("2016-10-30 02:30:00");
  ASSERT_TRUE(repeated);
  EXPECT_TRUE(unix(repeated) == 1477787400.0 || unix(repeated) == 1477791000.0) << unix(repeated);
  EXPECT_EQ(fixed.stringFromDate(*repeated), "2016-10-30 02:30:00");
}

TEST_F(DateFormatterTest, NamedZonesAndIcuPatterns) {
  auto zoned = [](const char* zone) {
    DateFormatter formatter("yyyy-MM-dd HH:mm:ss");
    formatter.setTimeZone(zone);
    return formatter;
  };
  EXPECT_EQ(unix(zoned("UTC").dateFromString("2015-10-21 12:05:00")), 1445429100.0);
  EXPECT_EQ(zoned("Asia/Tokyo").stringFromDate(Date::dateWithTimeIntervalSince1970(1445429100)), "2015-10-21 21:05:00");
  EXPECT_EQ(unix(zoned("Europe/Berlin").dateFromString("2016-03-27 02:30:00")), 1459042200.0);
  EXPECT_EQ(unix(zoned("America/New_York").dateFromString("2016-03-13 02:30:00")), 1457854200.0);
  EXPECT_FALSE(zoned("Europe/Berlin").dateFromString("2016-02-30 02:30:00"));
  {
    ScopedEnv berlin("TZ", "Europe/Berlin");
    EXPECT_EQ(unix(fixed.dateFromString("2016-03-27 02:30:00")), 1459042200.0);
  }

  // User-visible patterns go through ICU with the locale and, by default, the device zone.
  DateFormatter visible("d MMM yyyy HH:mm");
  visible.setLocale("en_US");
  EXPECT_EQ(visible.stringFromDate(Date::dateWithTimeIntervalSince1970(1445429100)), "21 Oct 2015 14:05");
  EXPECT_EQ(unix(visible.dateFromString("21 Oct 2015 14:05")), 1445429100.0);
  EXPECT_FALSE(visible.dateFromString("21 Oct 2015 14:05 and more"));
  EXPECT_FALSE(visible.dateFromString("\xff\xfe"));
  EXPECT_EQ(unix(visible.dateFromString("27 Mar 2016 02:30")), 1459042200.0);
  visible.setLocale("de_DE");
  visible.setDateFormat("EEEE, d. MMMM yyyy");
  EXPECT_EQ(visible.stringFromDate(Date::dateWithTimeIntervalSince1970(1445429100)), "Mittwoch, 21. Oktober 2015");

  // An unusable pattern gives nothing rather than a crash.
  DateFormatter broken("yyyy-MM-dd 'unterminated");
  EXPECT_FALSE(broken.dateFromString("2015-10-21 x"));
  EXPECT_TRUE(fixed.stringFromDate(Date{std::numeric_limits<double>::quiet_NaN()}).empty());
}
