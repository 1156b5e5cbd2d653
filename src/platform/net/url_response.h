#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/data.h"
#include "platform/foundation/url.h"
#include "platform/net/http_header_fields.h"

// Length of a body whose size is not known in advance.
inline constexpr std::int64_t NSURLResponseUnknownLength = -1;
inline constexpr std::int64_t NSURLSessionTransferSizeUnknown = -1;

// The metadata of a loaded resource. Immutable; shared as std::shared_ptr<const URLResponse>.
class URLResponse {
 public:
  URLResponse(URL url, std::optional<std::string> mimeType, std::int64_t expectedContentLength,
              std::optional<std::string> textEncodingName);
  virtual ~URLResponse();

  const URL& url() const { return url_; }
  const std::optional<std::string>& mimeType() const { return mimeType_; }
  std::int64_t expectedContentLength() const { return expectedContentLength_; }
  const std::optional<std::string>& textEncodingName() const { return textEncodingName_; }
  // The last path component of the URL, else "Unknown".
  std::string suggestedFilename() const;

 private:
  URL url_;
  std::optional<std::string> mimeType_;
  std::int64_t expectedContentLength_;
  std::optional<std::string> textEncodingName_;
};

// An HTTP response: status, version and header fields. Repeated fields are joined with ", ".
// MIME type, text encoding and expected length are read from Content-Type and Content-Length.
class HTTPURLResponse : public URLResponse {
 public:
  HTTPURLResponse(URL url, int statusCode, std::string httpVersion, HTTPHeaderFields headerFields);

  int statusCode() const { return statusCode_; }
  const std::string& httpVersion() const { return httpVersion_; }
  const HTTPHeaderFields& allHeaderFields() const { return headerFields_; }
  std::optional<std::string> valueForHTTPHeaderField(std::string_view name) const {
    return headerFields_.valueForHTTPHeaderField(name);
  }

  // "not found", "internal server error", ... ("server error" / "informational" ... for codes
  // without a text of their own).
  static std::string localizedStringForStatusCode(int statusCode);

 private:
  using ContentType = std::pair<std::optional<std::string>, std::optional<std::string>>;
  HTTPURLResponse(URL url, int statusCode, std::string httpVersion, HTTPHeaderFields&& headerFields,
                  ContentType contentType);

  int statusCode_;
  std::string httpVersion_;
  HTTPHeaderFields headerFields_;
};

// A response with its body as a cache would keep it.
struct CachedURLResponse {
  std::shared_ptr<const URLResponse> response;
  Data data;
};
