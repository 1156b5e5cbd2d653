// URL parsing, resolution against a base, and percent-encoding, from arbitrary text: nothing may
// crash, a resolved reference must itself read back as the same absolute URL, and encoding then
// decoding must give the text back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/foundation/url.h"

namespace {

void touch(const URL& url) {
  (void)url.path();
  (void)url.pathComponents();
  (void)url.lastPathComponent();
  (void)url.pathExtension();
  (void)url.queryItems();
  (void)url.isFileURL();
  (void)url.URLByAppendingPathComponent("next");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (const auto url = URL::URLWithString(text)) touch(*url);

  static const URL base = *URL::URLWithString("https://user@host.test:8443/a/b/c?q=1#f");
  if (const auto resolved = URL::URLWithString(text, base)) {
    touch(*resolved);
    const auto again = URL::URLWithString(resolved->absoluteString());
    if (!again || !again->scheme() || again->absoluteString() != resolved->absoluteString()) {
      std::abort();
    }
  }

  for (URLCharacterSet set :
       {URLCharacterSet::QueryAllowed, URLCharacterSet::PathAllowed, URLCharacterSet::FragmentAllowed,
        URLCharacterSet::HostAllowed, URLCharacterSet::UserAllowed, URLCharacterSet::PasswordAllowed}) {
    if (const auto encoded = stringByAddingPercentEncoding(text, set)) {
      if (stringByRemovingPercentEncoding(*encoded) != text) std::abort();
    }
  }
  (void)stringByRemovingPercentEncoding(text);
  return 0;
}
