// Stands in for a web browser in tests: GETs the URL given as its argument and follows its
// redirects (http and https only, keeping the fragment as a browser does), as a browser would
// after a web sign-in. The one script it runs is that of a page reading `location.hash` (the
// loopback receiver's): it loads the page's address again with the fragment as the query.
// Exit status 0 when the last answer is below 400, else 1 with the reason on stderr.
// With `--first-waits SOCKET`, the first browser started with that SOCKET path waits (at most 60 s)
// until a later one has followed its own page, then follows its page: a sign-in left open in the
// browser that the user finishes after another.

#include <curl/curl.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace {

constexpr int kMaxLoads = 20;

size_t keepBody(char* data, size_t size, size_t count, void* body) {
  static_cast<std::string*>(body)->append(data, size * count);
  return size * count;
}

size_t keepLocation(char* data, size_t size, size_t count, void* location) {
  std::string_view line(data, size * count);
  constexpr std::string_view kName = "location:";
  if (line.size() > kName.size() && strncasecmp(line.data(), kName.data(), kName.size()) == 0) {
    line.remove_prefix(kName.size());
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n' || line.back() == ' ')) line.remove_suffix(1);
    *static_cast<std::string*>(location) = std::string(line);
  }
  return size * count;
}

struct UrlFree {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
using Url = std::unique_ptr<CURLU, UrlFree>;

std::optional<std::string> part(CURLU* url, CURLUPart which) {
  char* text = nullptr;
  if (curl_url_get(url, which, &text, 0) != CURLUE_OK) return std::nullopt;
  std::string value(text);
  curl_free(text);
  return value;
}

// A redirect: `location` taken relative to the page; a location without a fragment keeps the page's.
bool follow(CURLU* url, const std::string& location) {
  const auto fragment = part(url, CURLUPART_FRAGMENT);
  if (curl_url_set(url, CURLUPART_URL, location.c_str(), 0) != CURLUE_OK) return false;
  if (fragment && !part(url, CURLUPART_FRAGMENT)) curl_url_set(url, CURLUPART_FRAGMENT, fragment->c_str(), 0);
  return true;
}

// What the loopback page's script does: location.replace(location.pathname + "?" + location.hash.slice(1)).
bool forwardFragment(CURLU* url) {
  const std::string fragment = part(url, CURLUPART_FRAGMENT).value_or("");
  curl_url_set(url, CURLUPART_QUERY, nullptr, 0);
  curl_url_set(url, CURLUPART_FRAGMENT, nullptr, 0);
  const auto page = part(url, CURLUPART_URL);
  return page && curl_url_set(url, CURLUPART_URL, (*page + "?" + fragment).c_str(), 0) == CURLUE_OK;
}

int fail(const std::string& address, const std::string& reason) {
  std::fprintf(stderr, "test_browser: %s: %s\n", address.c_str(), reason.c_str());
  return 1;
}

int browse(CURL* easy, const char* start) {
  Url url(curl_url());
  if (!url || curl_url_set(url.get(), CURLUPART_URL, start, 0) != CURLUE_OK) return fail(start, "not a URL");
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_TIMEOUT, 30L);
  curl_easy_setopt(easy, CURLOPT_COOKIEFILE, "");  // cookies live across the redirects
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, keepBody);
  curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, keepLocation);
  for (int load = 0; load < kMaxLoads; ++load) {
    // libcurl leaves the fragment out of the request, as a browser does.
    const std::string address = part(url.get(), CURLUPART_URL).value_or(start);
    std::string body, location;
    curl_easy_setopt(easy, CURLOPT_URL, address.c_str());
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &body);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &location);
    if (CURLcode result = curl_easy_perform(easy); result != CURLE_OK) return fail(address, curl_easy_strerror(result));
    long status = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    if (status >= 300 && status < 400 && !location.empty()) {
      if (!follow(url.get(), location)) return fail(address, "cannot follow the redirect to " + location);
      continue;
    }
    if (status >= 400) return fail(address, "HTTP " + std::to_string(status));
    if (body.find("location.hash") == std::string::npos) return 0;
    if (!forwardFragment(url.get())) return fail(address, "cannot forward the fragment");
  }
  return fail(start, "too many loads");
}

constexpr int kFirstWaitsMs = 60 * 1000;

struct Socket {
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ~Socket() {
    if (fd >= 0) ::close(fd);
  }
};

sockaddr_un addressOf(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  path.copy(address.sun_path, sizeof address.sun_path - 1);
  return address;
}

// The first browser on `path` holds it and waits for a later one to knock; whether this one was first.
bool waitIfFirst(const std::string& path) {
  Socket listener;
  const auto address = addressOf(path);
  if (listener.fd < 0 || ::bind(listener.fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener.fd, 1) != 0)
    return false;
  pollfd knock{listener.fd, POLLIN, 0};
  ::poll(&knock, 1, kFirstWaitsMs);
  return true;
}

// A later browser lets the first one go on.
void knock(const std::string& path) {
  Socket knocker;
  const auto address = addressOf(path);
  if (knocker.fd >= 0) ::connect(knocker.fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
}

}  // namespace

int main(int argc, char* argv[]) {
  const bool inTurn = argc == 4 && std::string_view(argv[1]) == "--first-waits";
  if (argc != 2 && !inTurn) {
    std::fprintf(stderr, "usage: %s [--first-waits SOCKET] URL\n", argv[0]);
    return 1;
  }
  const bool first = inTurn && waitIfFirst(argv[2]);
  curl_global_init(CURL_GLOBAL_DEFAULT);
  CURL* easy = curl_easy_init();
  if (!easy) return 1;
  const int status = browse(easy, argv[argc - 1]);
  curl_easy_cleanup(easy);
  curl_global_cleanup();
  if (inTurn && !first) knock(argv[2]);
  return status;
}
