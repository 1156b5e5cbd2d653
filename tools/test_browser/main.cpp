// Stands in for a web browser in tests: GETs the URL given as its argument and follows its
// redirects (http and https only), as a browser would after a web sign-in. The body is dropped.
// Exit status 0 when the last answer is below 400, else 1 with the reason on stderr.

#include <curl/curl.h>

#include <cstdio>

namespace {

size_t discard(char*, size_t size, size_t count, void*) { return size * count; }

}  // namespace

int main(int argc, char* argv[]) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s URL\n", argv[0]);
    return 1;
  }
  curl_global_init(CURL_GLOBAL_DEFAULT);
  CURL* easy = curl_easy_init();
  if (!easy) return 1;
  curl_easy_setopt(easy, CURLOPT_URL, argv[1]);
  curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 20L);
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_TIMEOUT, 30L);
  curl_easy_setopt(easy, CURLOPT_COOKIEFILE, "");  // cookies live across the redirects
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, discard);
  CURLcode result = curl_easy_perform(easy);
  long status = 0;
  curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
  curl_easy_cleanup(easy);
  curl_global_cleanup();
  if (result != CURLE_OK) {
    std::fprintf(stderr, "test_browser: %s: %s\n", argv[1], curl_easy_strerror(result));
    return 1;
  }
  if (status >= 400) {
    std::fprintf(stderr, "test_browser: %s: HTTP %ld\n", argv[1], status);
    return 1;
  }
  return 0;
}
