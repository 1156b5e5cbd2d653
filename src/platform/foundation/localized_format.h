#pragma once

#include <string>
#include <string_view>
#include <vector>

// Fills a localised format's object placeholders: "%@" takes the next argument, "%n$@" the n-th
// (from 1), "%%" is a percent sign. A placeholder without its argument, and any other "%"
// sequence, stay as written.
std::string localizedStringWithFormat(std::string_view format, const std::vector<std::string>& args);
