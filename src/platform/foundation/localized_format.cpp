#include "platform/foundation/localized_format.h"

std::string localizedStringWithFormat(std::string_view format, const std::vector<std::string>& args) {
  std::string out;
  std::size_t next = 0;
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%' || i + 1 == format.size()) {
      out += format[i];
      continue;
    }
    if (format[i + 1] == '%') {
      out += '%';
      ++i;
      continue;
    }
    if (format[i + 1] == '@') {
      out += next < args.size() ? args[next] : "%@";
      ++next;
      ++i;
      continue;
    }
    // "%n$@": a position from 1.
    std::size_t j = i + 1, position = 0;
    while (j < format.size() && format[j] >= '0' && format[j] <= '9' && position < args.size() + 1) {
      position = position * 10 + static_cast<std::size_t>(format[j] - '0');
      ++j;
    }
    if (j > i + 1 && j + 1 < format.size() && format[j] == '$' && format[j + 1] == '@' && position >= 1 &&
        position <= args.size()) {
      out += args[position - 1];
      i = j + 1;
      continue;
    }
    out += '%';
  }
  return out;
}
