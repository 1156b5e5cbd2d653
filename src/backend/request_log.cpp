#include "backend/request_log.h"

#include "platform/foundation/ascii.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "platform/frameworks/xcg_logger.h"
#include "platform/http/string_encoding.h"

namespace {

constexpr std::string_view kRedacted = "<redacted>";
constexpr std::array<std::string_view, 5> kSecretKeys = {"password", "confirmPassword", "oldPassword", "newPassword",
                                                         "token"};

std::string headerValueForLog(std::string_view name, std::string_view value) {
  // A session cookie is as good as the token.
  if (asciiEqualIgnoringCase(name, "Set-Cookie") || asciiEqualIgnoringCase(name, "Cookie"))
    return std::string(kRedacted);
  if (!asciiEqualIgnoringCase(name, "Authorization")) return std::string(value);
  constexpr std::string_view bearer = "Bearer ";
  if (value.size() >= bearer.size() && asciiEqualIgnoringCase(value.substr(0, bearer.size()), bearer)) {
    return std::string(value.substr(0, bearer.size())) + std::string(kRedacted);
  }
  return std::string(kRedacted);
}

// One past the closing quote of the string literal that opens at `i`, or the end of an
// unterminated one; `closed` tells which.
std::size_t skipString(std::string_view t, std::size_t i, bool* closed = nullptr) {
  for (++i; i < t.size(); ++i) {
    if (t[i] == '\\') {
      ++i;
    } else if (t[i] == '"') {
      if (closed) *closed = true;
      return i + 1;
    }
  }
  if (closed) *closed = false;
  return t.size();
}

// One past the JSON value that starts at `i`: a string, a bracketed object or array, or a bare
// literal. Malformed text ends where the text ends.
std::size_t skipValue(std::string_view t, std::size_t i) {
  if (i >= t.size()) return i;
  if (t[i] == '"') return skipString(t, i);
  if (t[i] == '{' || t[i] == '[') {
    int depth = 0;
    while (i < t.size()) {
      const char c = t[i];
      if (c == '"') {
        i = skipString(t, i);
        continue;
      }
      if (c == '{' || c == '[') ++depth;
      if (c == '}' || c == ']') --depth;
      ++i;
      if (depth == 0) return i;
    }
    return i;
  }
  while (i < t.size() && t[i] != ',' && t[i] != '}' && t[i] != ']' && !std::isspace(static_cast<unsigned char>(t[i]))) {
    ++i;
  }
  return i;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The key as its escapes spell it, so "pass\u0077ord" is recognised too. Only ASCII matters here:
// every other escaped character becomes a byte no secret key contains.
std::string unescapeKey(std::string_view body) {
  std::string out;
  for (std::size_t i = 0; i < body.size(); ++i) {
    if (body[i] != '\\' || i + 1 >= body.size()) {
      out.push_back(body[i]);
      continue;
    }
    const char e = body[++i];
    if (e == 'u' && i + 4 < body.size()) {
      int cp = 0;
      bool ok = true;
      for (std::size_t k = 1; k <= 4; ++k) {
        const int d = hexDigit(body[i + k]);
        ok = ok && d >= 0;
        cp = cp * 16 + std::max(d, 0);
      }
      out.push_back(ok && cp < 0x80 ? static_cast<char>(cp) : '\x7f');
      i += 4;
    } else {
      out.push_back(e);
    }
  }
  return out;
}

bool isSecretKey(std::string_view key) {
  return std::find(kSecretKeys.begin(), kSecretKeys.end(), key) != kSecretKeys.end();
}

bool isSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

// Appends the body with the value of every secret key replaced, at any depth; everything else,
// spacing included, stays as it was. Text that is not JSON passes through unchanged unless it
// holds a quoted secret key followed by a colon. Written straight into the line: a list reply can
// be tens of megabytes.
void appendRedacted(std::string& out, std::string_view t) {
  out.reserve(out.size() + t.size());
  std::size_t i = 0;
  while (i < t.size()) {
    if (t[i] != '"') {
      const std::size_t quote = std::min(t.find('"', i), t.size());
      out.append(t.substr(i, quote - i));
      i = quote;
      continue;
    }
    bool closed = false;
    const std::size_t end = skipString(t, i, &closed);
    const std::string_view body = t.substr(i + 1, std::min(end, t.size()) - i - 1 - (closed ? 1 : 0));
    out.append(t.substr(i, end - i));
    i = end;
    std::size_t k = i;
    while (k < t.size() && isSpace(t[k])) ++k;
    if (k >= t.size() || t[k] != ':' || !isSecretKey(unescapeKey(body))) continue;
    ++k;
    while (k < t.size() && isSpace(t[k])) ++k;
    out.append(t.substr(i, k - i));
    const std::size_t valueEnd = skipValue(t, k);
    if (valueEnd > k) {
      out.push_back('"');
      out.append(kRedacted);
      out.push_back('"');
    }
    i = valueEnd;
  }
}

std::string urlText(const std::optional<URL>& url) { return url ? url->absoluteString() : "NO URL"; }

void appendHeaders(std::string& out, const HTTPHeaderFields& headers) {
  for (const auto& [name, value] : headers) {
    out += "  ";
    out += name;
    out += ": ";
    out += headerValueForLog(name, value);
    out += "\n";
  }
}

// "\n<- METHOD U, HEADERS: \n" and the response's header lines.
std::string answerHead(Method method, const std::shared_ptr<const HTTPURLResponse>& response) {
  std::string out = std::string("\n<- ") + rawValue(method) + " " +
                    (response ? urlText(response->url()) : std::string("NO URL")) + ", HEADERS: \n";
  if (response) appendHeaders(out, response->allHeaderFields());
  return out;
}

}  // namespace

std::string RequestLog::formatRequest(Method method, const URLRequest& request) {
  std::string out = std::string("\n-> ") + rawValue(method) + " " + urlText(request.url) + ", HEADERS: \n";
  appendHeaders(out, request.allHTTPHeaderFields);
  out += "BODY:";
  if (!request.httpBody) {
    out += "empty";
  } else if (auto text = stringFromData(*request.httpBody, StringEncoding::UTF8)) {
    out += "\n  ";
    appendRedacted(out, *text);
  } else {
    // Binary bodies are not printed.
    out += "\n  <" + std::to_string(request.httpBody->size()) + " bytes>";
  }
  return out;
}

std::string RequestLog::formatResponse(Method method, const Result<std::string>& result,
                                       const std::shared_ptr<const HTTPURLResponse>& response) {
  std::string out = answerHead(method, response) + "BODY:";
  std::optional<std::string> decoded;
  if (!result.value() && result.data()) decoded = stringFromData(*result.data(), StringEncoding::UTF8);
  const std::optional<std::string>& text = result.value() ? result.value() : decoded;
  if (!text) {
    out += " empty";
    return out;
  }
  out += "\n  ";
  appendRedacted(out, *text);
  return out;
}

std::string RequestLog::formatDownloadResponse(Method method, const std::optional<Data>& data,
                                               const std::shared_ptr<const HTTPURLResponse>& response) {
  std::string out = answerHead(method, response) + "DATA:";
  out += data ? "\n " + std::to_string(data->size()) + " bytes downloaded." : std::string(" empty");
  return out;
}

std::string RequestLog::formatResponseError(Method method, const NSError& error,
                                            const std::optional<URLRequest>& request) {
  return std::string("\n<- ") + rawValue(method) + " " + (request ? urlText(request->url) : std::string("NO URL")) +
         " ERROR: " + error.description();
}

void RequestLog::log(const std::function<std::string()>& text, std::string_view functionName, int line) {
  XCGLogger::debug(text, functionName, fileName, line);
}

void RequestLog::logRequest(std::string_view functionName, Method method, const URLRequest& request, int line) {
  log([&] { return formatRequest(method, request); }, functionName, line);
}

void RequestLog::logAnswer(std::string_view functionName, Method method, const std::optional<URLRequest>& request,
                           const std::shared_ptr<const HTTPURLResponse>& response, const Result<std::string>& result,
                           int line) {
  if (response) {
    log([&] { return formatResponse(method, result, response); }, functionName, line);
  } else if (request && result.error()) {
    log([&] { return formatResponseError(method, *result.error(), request); }, functionName, line);
  }
}

void RequestLog::logDownloadAnswer(const std::optional<URLRequest>& request,
                                   const std::shared_ptr<const HTTPURLResponse>& response,
                                   const std::optional<Data>& data, const std::optional<NSError>& error, int line) {
  if (response) {
    log([&] { return formatDownloadResponse(Method::GET, data, response); }, downloadDataFromUrlFunction, line);
  } else if (request && error) {
    log([&] { return formatResponseError(Method::GET, *error, request); }, downloadDataFromUrlFunction, line);
  }
}
