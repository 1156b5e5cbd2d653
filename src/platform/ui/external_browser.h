#pragma once

#include <cstdlib>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include <tl/expected.hpp>

#include "platform/foundation/url.h"

// The user's web browser, outside the application (web sign-ins open their pages there, and the
// application the addresses it hands out; see BrowserSignIns for giving up on a sign-in).
class ExternalBrowser {
 public:
  // The command that opens a browser; blanks separate its words.
  static constexpr const char* kBrowserVariable = "DORVALE_BROWSER";

  using Environment = std::function<const char*(const char*)>;

  // The command that would open `url` (the URL its last word): $DORVALE_BROWSER when set, else
  // xdg-open when a display is there ($DISPLAY or $WAYLAND_DISPLAY); empty when there is neither.
  static std::vector<std::string> commandFor(const URL& url, const Environment& environment = std::getenv);

  // Starts that command without waiting for it; otherwise why no browser could start.
  static tl::expected<void, std::string> start(const URL& url, const Environment& environment = std::getenv);

  // Starts that command without waiting for it. Without a command, or when it cannot start, `out`
  // hears once that the sign-in waits in a browser, with the URL for the user to open by hand.
  // Whether a command started.
  static bool open(const URL& url, std::ostream& out);
};
