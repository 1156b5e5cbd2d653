#include "platform/net/url_response.h"

#include "platform/foundation/ascii.h"

#include <cctype>
#include <charconv>

namespace {

// "text/html; charset=UTF-8" -> ("text/html", "utf-8").
std::pair<std::optional<std::string>, std::optional<std::string>> parseContentType(const std::string* value) {
  if (!value) return {};
  std::string_view v = *value;
  auto semi = v.find(';');
  std::optional<std::string> mime = asciiLowercase(trimAsciiWhitespace(v.substr(0, semi)));
  if (mime->empty()) mime.reset();
  std::optional<std::string> charset;
  while (semi != std::string_view::npos) {
    v.remove_prefix(semi + 1);
    semi = v.find(';');
    const std::string_view param = trimAsciiWhitespace(v.substr(0, semi));
    auto eq = param.find('=');
    if (eq == std::string_view::npos || !asciiEqualIgnoringCase(trimAsciiWhitespace(param.substr(0, eq)), "charset"))
      continue;
    std::string_view cs = trimAsciiWhitespace(param.substr(eq + 1));
    if (cs.size() >= 2 && cs.front() == '"' && cs.back() == '"') cs = cs.substr(1, cs.size() - 2);
    if (!cs.empty()) charset = asciiLowercase(cs);
  }
  return {std::move(mime), std::move(charset)};
}

std::int64_t parseLength(const std::string* value) {
  if (!value) return NSURLResponseUnknownLength;
  std::string_view v = trimAsciiWhitespace(*value);
  std::int64_t n = 0;
  auto [ptr, ec] = std::from_chars(v.data(), v.data() + v.size(), n);
  if (ec != std::errc() || ptr != v.data() + v.size() || n < 0) return NSURLResponseUnknownLength;
  return n;
}

}  // namespace

URLResponse::URLResponse(URL url, std::optional<std::string> mimeType, std::int64_t expectedContentLength,
                         std::optional<std::string> textEncodingName)
    : url_(std::move(url)),
      mimeType_(std::move(mimeType)),
      expectedContentLength_(expectedContentLength),
      textEncodingName_(std::move(textEncodingName)) {}

URLResponse::~URLResponse() = default;

std::string URLResponse::suggestedFilename() const {
  std::string last = url_.lastPathComponent();
  if (last.empty() || last == "/") return "Unknown";
  return last;
}

HTTPURLResponse::HTTPURLResponse(URL url, int statusCode, std::string httpVersion, HTTPHeaderFields headerFields)
    : HTTPURLResponse(std::move(url), statusCode, std::move(httpVersion), std::move(headerFields),
                      parseContentType(headerFields.find("Content-Type"))) {}

HTTPURLResponse::HTTPURLResponse(URL url, int statusCode, std::string httpVersion, HTTPHeaderFields&& headerFields,
                                 ContentType contentType)
    : URLResponse(std::move(url), std::move(contentType.first),
                  parseLength(headerFields.find("Content-Length")), std::move(contentType.second)),
      statusCode_(statusCode),
      httpVersion_(std::move(httpVersion)),
      headerFields_(std::move(headerFields)) {}

std::string HTTPURLResponse::localizedStringForStatusCode(int statusCode) {
  switch (statusCode) {
    case 100: return "continue";
    case 101: return "switching protocols";
    case 200: return "no error";
    case 201: return "created";
    case 202: return "accepted";
    case 203: return "non-authoritative information";
    case 204: return "no content";
    case 205: return "reset content";
    case 206: return "partial content";
    case 300: return "multiple choices";
    case 301: return "moved permanently";
    case 302: return "found";
    case 303: return "see other";
    case 304: return "not modified";
    case 305: return "needs proxy";
    case 307: return "temporarily redirected";
    case 308: return "permanently redirected";
    case 400: return "bad request";
    case 401: return "unauthorized";
    case 402: return "payment required";
    case 403: return "forbidden";
    case 404: return "not found";
    case 405: return "method not allowed";
    case 406: return "unacceptable";
    case 407: return "proxy authentication required";
    case 408: return "request timed out";
    case 409: return "conflict";
    case 410: return "no longer exists";
    case 411: return "length required";
    case 412: return "precondition failed";
    case 413: return "request too large";
    case 414: return "requested URL too long";
    case 415: return "unsupported media type";
    case 416: return "requested range not satisfiable";
    case 417: return "expectation failed";
    case 429: return "too many requests";
    case 500: return "internal server error";
    case 501: return "unimplemented";
    case 502: return "bad gateway";
    case 503: return "service unavailable";
    case 504: return "gateway timed out";
    case 505: return "unsupported version";
    default: break;
  }
  if (statusCode >= 100 && statusCode < 200) return "informational";
  if (statusCode >= 200 && statusCode < 300) return "success";
  if (statusCode >= 300 && statusCode < 400) return "redirected";
  if (statusCode >= 400 && statusCode < 500) return "client error";
  if (statusCode >= 500 && statusCode < 600) return "server error";
  return "server error";
}
