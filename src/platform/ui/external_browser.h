#pragma once

#include <cstddef>
#include <cstdlib>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include <tl/expected.hpp>

#include "platform/foundation/date.h"
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

  // Starts that command for a sign-in without waiting for it. `out` hears once that the sign-in
  // waits in a browser, with the URL for the user to open by hand (the browser may show nothing)
  // and how to give up; also why no command started. Whether a command started.
  static bool open(const URL& url, std::ostream& out);

  // How many commands that open() started are still running, of those started less than
  // `seconds` ago: a browser that answers at once is waited for, one left open is not.
  static std::size_t signInBrowsersRunning(TimeInterval seconds);
};
