#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/data.h"
#include "platform/foundation/date.h"
#include "platform/foundation/url.h"
#include "platform/net/http_header_fields.h"

class InputStream;

// A URL load request (a value: copies are independent, except the body stream they share).
struct URLRequest {
  std::optional<URL> url;
  std::string httpMethod = "GET";
  HTTPHeaderFields allHTTPHeaderFields;
  // Absent and empty differ: an empty body is sent with "Content-Length: 0".
  std::optional<Data> httpBody;
  // Used when there is no httpBody.
  std::shared_ptr<InputStream> httpBodyStream;
  TimeInterval timeoutInterval = 60.0;
  bool httpShouldHandleCookies = true;
  std::optional<URL> mainDocumentURL;

  URLRequest() = default;
  explicit URLRequest(URL u, TimeInterval timeout = 60.0) : url(std::move(u)), timeoutInterval(timeout) {}
  static URLRequest requestWithURL(URL u) { return URLRequest(std::move(u)); }

  std::optional<std::string> valueForHTTPHeaderField(std::string_view name) const {
    return allHTTPHeaderFields.valueForHTTPHeaderField(name);
  }
  void setValue(std::optional<std::string> value, std::string_view field) {
    allHTTPHeaderFields.setValue(std::move(value), field);
  }
  void addValue(std::string_view value, std::string_view field) { allHTTPHeaderFields.addValue(value, field); }

  bool operator==(const URLRequest&) const = default;
};
