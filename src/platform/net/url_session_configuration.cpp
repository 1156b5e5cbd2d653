#include "platform/net/url_session_configuration.h"

URLSessionConfiguration URLSessionConfiguration::defaultSessionConfiguration() {
  URLSessionConfiguration c;
  c.httpCookieStorage = HTTPCookieStorage::sharedHTTPCookieStorage();
  return c;
}

URLSessionConfiguration URLSessionConfiguration::ephemeralSessionConfiguration() {
  URLSessionConfiguration c;
  c.httpCookieStorage = HTTPCookieStorage::make();
  return c;
}

URLSessionConfiguration URLSessionConfiguration::backgroundSessionConfigurationWithIdentifier(std::string identifier) {
  URLSessionConfiguration c = defaultSessionConfiguration();
  c.identifier = std::move(identifier);
  return c;
}
