#include "platform/net/local_file.h"

#include <fstream>

#include "platform/net/url_error.h"

tl::expected<std::string, NSError> readLocalFile(const URL& url, std::int64_t maxBytes) {
  if (!url.isFileURL()) return tl::make_unexpected(URLError(NSURLErrorUnsupportedURL, url));
  std::ifstream in(url.path(), std::ios::binary);
  if (!in) return tl::make_unexpected(URLError(NSURLErrorFileDoesNotExist, url));
  std::string bytes;
  char buffer[64 * 1024];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    if (static_cast<std::int64_t>(bytes.size() + static_cast<std::size_t>(in.gcount())) > maxBytes)
      return tl::make_unexpected(URLError(NSURLErrorDataLengthExceedsMaximum, url));
    bytes.append(buffer, static_cast<std::size_t>(in.gcount()));
  }
  // A directory opens like a file; only reading it fails.
  if (in.bad()) return tl::make_unexpected(URLError(NSURLErrorFileDoesNotExist, url));
  return bytes;
}
