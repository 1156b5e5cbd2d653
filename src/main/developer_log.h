#pragma once

#include <optional>
#include <string>

// Where the developer log (every request and answer) goes when the program runs: "dorvale.log" in
// the data directory, so that the screens stay readable, unless DORVALE_LOG is "stderr". Returns
// the one line the program prints on standard error about it, nothing when it stays there.
std::optional<std::string> routeDeveloperLog();
