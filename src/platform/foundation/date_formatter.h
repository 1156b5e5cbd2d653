#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/date.h"

// Dates to and from text.
//
// The fixed pattern "yyyy-MM-dd HH:mm:ss" (and any pattern made only of the fields yyyy MM dd HH
// mm ss and literal characters) is parsed strictly (exact digit counts, ASCII digits, a real
// calendar date, nothing trailing) and written with ASCII digits on the Gregorian calendar in the
// device's local time zone (TZ is honoured). Other patterns go through ICU for user-visible text.
class DateFormatter {
 public:
  DateFormatter() = default;
  explicit DateFormatter(std::string dateFormat) : dateFormat_(std::move(dateFormat)) {}

  const std::string& dateFormat() const { return dateFormat_; }
  void setDateFormat(std::string f) { dateFormat_ = std::move(f); }
  // ICU zone id (IANA name, "UTC", or an offset like "GMT+01:00"); empty means the device's
  // local zone, as TZ describes it (POSIX rules included).
  void setTimeZone(std::string tz) { timeZone_ = std::move(tz); }
  void setLocale(std::string locale) { locale_ = std::move(locale); }

  std::optional<Date> dateFromString(std::string_view text) const;
  std::string stringFromDate(Date date) const;

 private:
  std::string dateFormat_;
  std::string timeZone_;
  std::string locale_ = "en_US_POSIX";
};
