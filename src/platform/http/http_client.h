#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>

#include "platform/foundation/ns_error.h"
#include "platform/foundation/url.h"
#include "platform/http/method.h"
#include "platform/http/multipart_form_data.h"
#include "platform/http/request.h"
#include "platform/net/http_header_fields.h"
#include "platform/net/url_request.h"

// The HTTP framework as its callers see it. The transfer layer holds one of these so that tests can
// put a scripted client in place of the network.
class HTTPClient {
 public:
  // Either the upload's request (with whether its body streams from a file, and that file), or
  // the error that kept the form from being encoded.
  struct MultipartFormDataEncodingResult {
    std::shared_ptr<Request> request;
    bool streamingFromDisk = false;
    std::optional<URL> streamFileURL;
    std::optional<NSError> error;

    static MultipartFormDataEncodingResult success(std::shared_ptr<Request> request, bool streamingFromDisk,
                                                   std::optional<URL> streamFileURL) {
      return {std::move(request), streamingFromDisk, std::move(streamFileURL), std::nullopt};
    }
    static MultipartFormDataEncodingResult failure(NSError error) {
      return {nullptr, false, std::nullopt, std::move(error)};
    }
    bool isSuccess() const { return request != nullptr; }
  };
  using EncodingResult = MultipartFormDataEncodingResult;
  using MultipartFormDataBuilder = std::function<void(MultipartFormData&)>;
  using EncodingCompletion = std::function<void(const MultipartFormDataEncodingResult&)>;

  // Forms up to this size are encoded in memory, larger ones through a file.
  static constexpr std::uint64_t MultipartFormDataEncodingMemoryThreshold = 10'000'000;

  virtual ~HTTPClient() = default;

  // The real client over the URL-loading session (one shared session for the process).
  static std::shared_ptr<HTTPClient> defaultClient();

  // Sends the prepared request unchanged.
  virtual std::shared_ptr<Request> request(const URLRequest& urlRequest) = 0;
  // A request with this method to this URL, with no body and only the given headers.
  virtual std::shared_ptr<Request> request(Method method, std::string_view urlString,
                                           const HTTPHeaderFields& headers = {}) = 0;
  // Builds the form with `multipartFormData`, encodes it and sends it with `headers` and the
  // form's Content-Type. encodingCompletion runs once, on the main run loop.
  virtual void upload(Method method, std::string_view urlString, const HTTPHeaderFields& headers,
                      MultipartFormDataBuilder multipartFormData, std::uint64_t encodingMemoryThreshold,
                      EncodingCompletion encodingCompletion) = 0;
};
