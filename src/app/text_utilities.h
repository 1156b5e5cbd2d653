#pragma once

#include <string>
#include <string_view>

// `value` written as printf's "%" + digits + "f" would write it (".4" gives four decimals), in the
// C locale: a point as decimal separator, no grouping. `digits` is an optional width and an
// optional "." with a precision, each at most two digits; anything else counts as "" (six
// decimals), so the text never reaches the format as anything but digits.
std::string formatDecimal(std::string_view digits, double value);
