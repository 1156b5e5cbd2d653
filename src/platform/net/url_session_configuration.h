#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/date.h"
#include "platform/net/http_cookie_storage.h"
#include "platform/net/http_header_fields.h"

// Minimum TLS version, with the platform's numbers.
enum class SSLProtocol { kTLSProtocol1 = 4, kTLSProtocol11 = 7, kTLSProtocol12 = 8, kTLSProtocol13 = 10 };

// Settings of a URL session; the session keeps its own copy.
struct URLSessionConfiguration {
  // Set for a background session.
  std::optional<std::string> identifier;
  // No storage: cookies are neither stored nor sent.
  std::shared_ptr<HTTPCookieStorage> httpCookieStorage;
  HTTPCookieAcceptPolicy httpCookieAcceptPolicy = HTTPCookieAcceptPolicy::OnlyFromMainDocumentDomain;
  bool httpShouldSetCookies = true;
  SSLProtocol tlsMinimumSupportedProtocol = SSLProtocol::kTLSProtocol12;
  // Longest wait for data on a transfer (also caps the request's own timeout).
  TimeInterval timeoutIntervalForRequest = 60.0;
  // Longest a whole transfer may take.
  TimeInterval timeoutIntervalForResource = 604800.0;
  // A response body longer than this (counted after decoding) fails its task with
  // NSURLErrorDataLengthExceedsMaximum as soon as it is passed. None: no limit.
  std::optional<std::int64_t> maximumResponseBodySize;
  // Sent with every request that does not set the same field.
  HTTPHeaderFields httpAdditionalHeaders;
  int httpMaximumConnectionsPerHost = 6;
  // Connections open at once to all hosts together, per session: enough that dozens of dead hosts
  // at their full share leave room for a live one, few enough that pictures from thousands of
  // hosts hold a bounded number of descriptors.
  int httpMaximumConnections = 256;
  bool sessionSendsLaunchEvents = true;
  bool discretionary = false;

  // Shared cookie storage.
  static URLSessionConfiguration defaultSessionConfiguration();
  // A private cookie storage of its own.
  static URLSessionConfiguration ephemeralSessionConfiguration();
  static URLSessionConfiguration backgroundSessionConfigurationWithIdentifier(std::string identifier);
};
