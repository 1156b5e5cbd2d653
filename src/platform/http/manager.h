#pragma once

#include <memory>

#include "platform/http/http_client.h"
#include "platform/net/url_session.h"
#include "platform/net/url_session_configuration.h"

// The HTTP framework over one URL session whose callbacks arrive on the main run loop. Redirects
// are followed, challenges get the default handling. Destroying a manager cancels its transfers
// and drops the answers still to come.
class Manager : public HTTPClient {
 public:
  // The process's client, on the default session configuration.
  static std::shared_ptr<Manager> sharedInstance();
  static std::shared_ptr<Manager> make(const URLSessionConfiguration& configuration);
  ~Manager() override;

  std::shared_ptr<Request> request(const URLRequest& urlRequest) override;
  std::shared_ptr<Request> request(Method method, std::string_view urlString,
                                   const HTTPHeaderFields& headers = {}) override;
  void upload(Method method, std::string_view urlString, const HTTPHeaderFields& headers,
              MultipartFormDataBuilder multipartFormData, std::uint64_t encodingMemoryThreshold,
              EncodingCompletion encodingCompletion) override;

  const std::shared_ptr<URLSession>& session() const { return session_; }

  class SessionDelegate;

 private:
  explicit Manager(const URLSessionConfiguration& configuration);

  std::shared_ptr<SessionDelegate> delegate_;
  std::shared_ptr<URLSession> session_;
};
