#pragma once

#include <string_view>

// A programming error: prints the message and stops the program.
[[noreturn]] void fatalError(std::string_view message);
