#include "platform/foundation/date_formatter.h"

#include <fmt/format.h>
#include <unicode/gregocal.h>
#include <unicode/simpletz.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>

#include <cmath>
#include <ctime>
#include <memory>
#include <vector>

namespace {

enum class Field { Year, Month, Day, Hour, Minute, Second };

struct Token {
  bool isField = false;
  Field field = Field::Year;
  int width = 0;
  std::string literal;
};

// Wall-clock fields of one instant in some zone.
struct Fields {
  int year = 1970, month = 1, day = 1, hour = 0, minute = 0, second = 0;

  bool operator==(const Fields&) const = default;
};

// The pattern as fields and literals when it only uses yyyy MM dd HH mm ss; nothing otherwise.
std::optional<std::vector<Token>> fixedPattern(std::string_view pattern) {
  std::vector<Token> tokens;
  auto addLiteral = [&tokens](std::string_view text) {
    if (tokens.empty() || tokens.back().isField) tokens.push_back(Token{});
    tokens.back().literal.append(text);
  };
  for (std::size_t i = 0; i < pattern.size();) {
    char c = pattern[i];
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) {
      std::size_t end = pattern.find_first_not_of(c, i);
      if (end == std::string_view::npos) end = pattern.size();
      std::string_view run = pattern.substr(i, end - i);
      Token t;
      t.isField = true;
      t.width = static_cast<int>(run.size());
      if (run == "yyyy") t.field = Field::Year;
      else if (run == "MM") t.field = Field::Month;
      else if (run == "dd") t.field = Field::Day;
      else if (run == "HH") t.field = Field::Hour;
      else if (run == "mm") t.field = Field::Minute;
      else if (run == "ss") t.field = Field::Second;
      else return std::nullopt;
      tokens.push_back(t);
      i = end;
    } else if (c == '\'') {
      if (i + 1 < pattern.size() && pattern[i + 1] == '\'') {
        addLiteral("'");
        i += 2;
        continue;
      }
      std::size_t close = pattern.find('\'', i + 1);
      if (close == std::string_view::npos) return std::nullopt;
      addLiteral(pattern.substr(i + 1, close - i - 1));
      i = close + 1;
    } else {
      addLiteral(pattern.substr(i, 1));
      ++i;
    }
  }
  return tokens;
}

bool isLeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int daysInMonth(int y, int m) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && isLeapYear(y) ? 29 : kDays[m - 1];
}

std::optional<Fields> parseFixed(const std::vector<Token>& tokens, std::string_view text) {
  Fields f;
  std::size_t pos = 0;
  for (const Token& t : tokens) {
    if (!t.isField) {
      if (text.substr(pos, t.literal.size()) != t.literal) return std::nullopt;
      pos += t.literal.size();
      continue;
    }
    if (pos + static_cast<std::size_t>(t.width) > text.size()) return std::nullopt;
    int value = 0;
    for (int k = 0; k < t.width; ++k) {
      char c = text[pos + k];
      if (c < '0' || c > '9') return std::nullopt;
      value = value * 10 + (c - '0');
    }
    pos += static_cast<std::size_t>(t.width);
    switch (t.field) {
      case Field::Year: f.year = value; break;
      case Field::Month: f.month = value; break;
      case Field::Day: f.day = value; break;
      case Field::Hour: f.hour = value; break;
      case Field::Minute: f.minute = value; break;
      case Field::Second: f.second = value; break;
    }
  }
  if (pos != text.size()) return std::nullopt;
  if (f.year < 1 || f.month < 1 || f.month > 12 || f.day < 1 || f.day > daysInMonth(f.year, f.month) || f.hour > 23 ||
      f.minute > 59 || f.second > 59)
    return std::nullopt;
  return f;
}

std::string formatFixed(const std::vector<Token>& tokens, const Fields& f) {
  std::string out;
  for (const Token& t : tokens) {
    if (!t.isField) {
      out += t.literal;
      continue;
    }
    int value = 0;
    switch (t.field) {
      case Field::Year: value = f.year; break;
      case Field::Month: value = f.month; break;
      case Field::Day: value = f.day; break;
      case Field::Hour: value = f.hour; break;
      case Field::Minute: value = f.minute; break;
      case Field::Second: value = f.second; break;
    }
    out += fmt::format("{:0{}d}", value, t.width);
  }
  return out;
}

// Keeps time_t and ICU arithmetic far from overflow (about +-285 million years).
bool representable(double unixSeconds) { return std::isfinite(unixSeconds) && std::fabs(unixSeconds) < 9e15; }

// The proleptic Gregorian calendar in `zone`, like the C library's.
std::unique_ptr<icu::GregorianCalendar> calendarIn(const std::string& zone) {
  UErrorCode status = U_ZERO_ERROR;
  auto cal = std::make_unique<icu::GregorianCalendar>(icu::TimeZone::createTimeZone(icu::UnicodeString::fromUTF8(zone)),
                                                      status);
  if (U_FAILURE(status)) return nullptr;
  cal->setGregorianChange(-8.64e15 * 1000, status);
  return U_FAILURE(status) ? nullptr : std::move(cal);
}

std::optional<Fields> fieldsFromUnix(double unixSeconds, const std::string& zone);
std::optional<double> acrossSkippedTime(const Fields& f, const std::string& zone);

// A wall time the zone skips (a spring-forward gap) moves forward by the gap, as the C library
// and ICU read it; a date that does not exist is nothing.
std::optional<double> unixFromFields(const Fields& f, const std::string& zone) {
  std::optional<double> unix;
  if (zone.empty()) {
    std::tm tm{};
    tm.tm_year = f.year - 1900;
    tm.tm_mon = f.month - 1;
    tm.tm_mday = f.day;
    tm.tm_hour = f.hour;
    tm.tm_min = f.minute;
    tm.tm_sec = f.second;
    tm.tm_isdst = -1;
    tm.tm_wday = -1;  // mktime sets it on success; -1 is also a valid time_t
    tzset();
    std::time_t t = std::mktime(&tm);
    if (tm.tm_wday == -1) return std::nullopt;
    unix = static_cast<double>(t);
  } else {
    auto cal = calendarIn(zone);
    if (!cal) return std::nullopt;
    cal->clear();
    cal->set(f.year, f.month - 1, f.day, f.hour, f.minute, f.second);
    UErrorCode status = U_ZERO_ERROR;
    UDate ms = cal->getTime(status);
    if (U_FAILURE(status)) return std::nullopt;
    unix = ms / 1000.0;
  }
  if (fieldsFromUnix(*unix, zone) != f) return acrossSkippedTime(f, zone);
  return unix;
}

// Seconds since 1970 of the wall fields read as UTC (days from the civil date, proleptic).
double wallSeconds(const Fields& f) {
  const long long y = f.year - (f.month <= 2);
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const long long yoe = y - era * 400;
  const long long doy = (153 * (f.month + (f.month > 2 ? -3 : 9)) + 2) / 5 + f.day - 1;
  const long long days = era * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy - 719468;
  return static_cast<double>(days) * 86400.0 + f.hour * 3600.0 + f.minute * 60.0 + f.second;
}

// The zone's offset from UTC in force at an instant, in seconds.
std::optional<double> offsetAt(double unixSeconds, const std::string& zone) {
  auto fields = fieldsFromUnix(unixSeconds, zone);
  if (!fields) return std::nullopt;
  return wallSeconds(*fields) - std::floor(unixSeconds);
}

// A real calendar time that did not come back is one the clocks jumped over: read with the offset
// in force before the jump, it lands after it, later on the wall by the jump's length.
std::optional<double> acrossSkippedTime(const Fields& f, const std::string& zone) {
  constexpr double kDay = 86400;
  const double wall = wallSeconds(f);
  if (!representable(wall) || fieldsFromUnix(wall, "UTC") != f) return std::nullopt;
  const auto before = offsetAt(wall - kDay, zone);
  const auto after = offsetAt(wall + kDay, zone);
  if (!before || !after || *after <= *before) return std::nullopt;
  const double unix = wall - *before;
  if (fieldsFromUnix(unix, zone) != fieldsFromUnix(wall + (*after - *before), "UTC")) return std::nullopt;
  return unix;
}

std::optional<Fields> fieldsFromUnix(double unixSeconds, const std::string& zone) {
  if (!representable(unixSeconds)) return std::nullopt;
  double whole = std::floor(unixSeconds);
  if (zone.empty()) {
    std::time_t t = static_cast<std::time_t>(whole);
    std::tm tm{};
    tzset();
    if (!localtime_r(&t, &tm)) return std::nullopt;
    return Fields{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
  }
  auto cal = calendarIn(zone);
  if (!cal) return std::nullopt;
  UErrorCode status = U_ZERO_ERROR;
  cal->setTime(whole * 1000.0, status);
  Fields f;
  f.year = cal->get(UCAL_EXTENDED_YEAR, status);
  f.month = cal->get(UCAL_MONTH, status) + 1;
  f.day = cal->get(UCAL_DATE, status);
  f.hour = cal->get(UCAL_HOUR_OF_DAY, status);
  f.minute = cal->get(UCAL_MINUTE, status);
  f.second = cal->get(UCAL_SECOND, status);
  if (U_FAILURE(status)) return std::nullopt;
  return f;
}

// ICU has no zone for a POSIX TZ rule, so the device zone is the fixed offset in force at that
// instant, as the C library computes it.
icu::TimeZone* localZoneAt(double unixSeconds) {
  std::time_t t = static_cast<std::time_t>(std::floor(unixSeconds));
  std::tm tm{};
  tzset();
  long offset = localtime_r(&t, &tm) ? tm.tm_gmtoff : 0;
  return new icu::SimpleTimeZone(static_cast<int32_t>(offset * 1000), icu::UnicodeString("Local"));
}

bool patternHasZoneField(std::string_view pattern) {
  bool quoted = false;
  for (char c : pattern) {
    if (c == '\'') quoted = !quoted;
    else if (!quoted && std::string_view("zZOvVXx").find(c) != std::string_view::npos) return true;
  }
  return false;
}

std::unique_ptr<icu::SimpleDateFormat> icuFormatter(const std::string& pattern, const std::string& locale) {
  UErrorCode status = U_ZERO_ERROR;
  auto f = std::make_unique<icu::SimpleDateFormat>(icu::UnicodeString::fromUTF8(pattern), icu::Locale(locale.c_str()),
                                                   status);
  if (U_FAILURE(status)) return nullptr;
  return f;
}

}  // namespace

std::optional<Date> DateFormatter::dateFromString(std::string_view text) const {
  if (auto tokens = fixedPattern(dateFormat_)) {
    auto fields = parseFixed(*tokens, text);
    if (!fields) return std::nullopt;
    auto unix = unixFromFields(*fields, timeZone_);
    if (!unix) return std::nullopt;
    return Date::dateWithTimeIntervalSince1970(*unix);
  }

  auto formatter = icuFormatter(dateFormat_, locale_);
  if (!formatter) return std::nullopt;
  formatter->setLenient(false);
  bool local = timeZone_.empty();
  formatter->adoptTimeZone(icu::TimeZone::createTimeZone(icu::UnicodeString::fromUTF8(local ? "UTC" : timeZone_)));
  icu::UnicodeString utext =
      icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
  icu::ParsePosition pos(0);
  UDate ms = formatter->parse(utext, pos);
  if (pos.getErrorIndex() >= 0 || pos.getIndex() != utext.length()) return std::nullopt;
  double seconds = ms / 1000.0;
  if (local && !patternHasZoneField(dateFormat_)) {
    // Parsed as UTC wall time; place those wall-clock fields in the device zone.
    auto fields = fieldsFromUnix(seconds, "UTC");
    if (!fields) return std::nullopt;
    auto unix = unixFromFields(*fields, "");
    if (!unix) return std::nullopt;
    seconds = *unix + (seconds - std::floor(seconds));
  }
  return Date::dateWithTimeIntervalSince1970(seconds);
}

std::string DateFormatter::stringFromDate(Date date) const {
  double unix = date.timeIntervalSince1970();
  if (!representable(unix)) return {};
  if (auto tokens = fixedPattern(dateFormat_)) {
    auto fields = fieldsFromUnix(unix, timeZone_);
    return fields ? formatFixed(*tokens, *fields) : std::string();
  }

  auto formatter = icuFormatter(dateFormat_, locale_);
  if (!formatter) return {};
  if (timeZone_.empty()) formatter->adoptTimeZone(localZoneAt(unix));
  else formatter->adoptTimeZone(icu::TimeZone::createTimeZone(icu::UnicodeString::fromUTF8(timeZone_)));
  icu::UnicodeString out;
  formatter->format(unix * 1000.0, out);
  std::string result;
  out.toUTF8String(result);
  return result;
}
