#include "platform/net/local_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/net/url_error.h"

namespace {

class OpenFile {
 public:
  explicit OpenFile(int fd) : fd_(fd) {}
  ~OpenFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

tl::expected<std::string, NSError> readLocalFile(const URL& url, std::int64_t maxBytes) {
  if (!url.isFileURL()) return tl::make_unexpected(URLError(NSURLErrorUnsupportedURL, url));
  const auto unreadable = [&] { return tl::make_unexpected(URLError(NSURLErrorFileDoesNotExist, url)); };
  // Without O_NONBLOCK, opening a named pipe waits for a writer that may never come.
  const OpenFile file(::open(url.path().c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  struct stat st {};
  if (file.fd() < 0 || ::fstat(file.fd(), &st) != 0 || !S_ISREG(st.st_mode)) return unreadable();
  const auto tooLarge = [&] { return tl::make_unexpected(URLError(NSURLErrorDataLengthExceedsMaximum, url)); };
  if (st.st_size > maxBytes) return tooLarge();
  std::string bytes;
  char buffer[64 * 1024];
  // The file may grow while it is read: the cap holds for what is read, not for what fstat said.
  while (true) {
    const ssize_t n = ::read(file.fd(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return unreadable();
    if (n == 0) return bytes;
    if (static_cast<std::int64_t>(bytes.size()) + n > maxBytes) return tooLarge();
    bytes.append(buffer, static_cast<std::size_t>(n));
  }
}
