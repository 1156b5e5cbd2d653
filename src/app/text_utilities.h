#pragma once

#include <string>
#include <string_view>

// True when an e-mail address appears anywhere in `text` (an unanchored, case-sensitive search;
// blanks around it are not trimmed first).
bool isValidEmail(std::string_view text);

// True for at least 6 user-perceived characters (extended grapheme clusters).
bool isValidPassword(std::string_view text);

// `value` written as printf's "%" + digits + "f" would write it (".4" gives four decimals), in the
// C locale: a point as decimal separator, no grouping. `digits` is an optional width and an
// optional "." with a precision, each at most two digits; anything else counts as "" (six
// decimals), so the text never reaches the format as anything but digits.
std::string formatDecimal(std::string_view digits, double value);

// The viewport element put in front of every HTML page shown in a web view.
const std::string& htmlViewportHeader();
