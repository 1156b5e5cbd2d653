#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/data.h"
#include "platform/foundation/ns_error.h"
#include "platform/http/method.h"
#include "platform/http/result.h"
#include "platform/net/url_request.h"
#include "platform/net/url_response.h"

// The console texts of the transfer coordinator's exchanges and the one road they take to the
// logger. Secrets are masked: the bearer token, cookie header values and the values of password
// and token fields are written as "<redacted>". `line` defaults to the caller's line
// (__builtin_LINE rather than std::source_location, which clang 14 over libstdc++ 12 lacks).
struct RequestLog {
  static constexpr std::string_view fileName = "TransferCoordinator";
  static constexpr std::string_view processRequestFunction = "processRequest(_:request:completion:)";
  static constexpr std::string_view downloadDataFromUrlFunction = "downloadDataFromUrl(_:completion:)";
  static constexpr std::string_view uploadImageFunction =
      "uploadImage(_:imageData:pictureFormat:success:failure:encodeError:)";

  static std::string formatRequest(Method method, const URLRequest& request);
  static std::string formatResponse(Method method, const Result<std::string>& result,
                                    const std::shared_ptr<const HTTPURLResponse>& response);
  static std::string formatDownloadResponse(Method method, const std::optional<Data>& data,
                                            const std::shared_ptr<const HTTPURLResponse>& response);
  static std::string formatResponseError(Method method, const NSError& error, const std::optional<URLRequest>& request);

  // Every entry: one level for all, the text built only when the logger writes it.
  static void log(const std::function<std::string()>& text, std::string_view functionName, int line = __builtin_LINE());

  // The request as sent.
  static void logRequest(std::string_view functionName, Method method, const URLRequest& request,
                         int line = __builtin_LINE());
  // The answer to a text request: with the response when one came, else the failure when the
  // request is known; nothing otherwise.
  static void logAnswer(std::string_view functionName, Method method, const std::optional<URLRequest>& request,
                        const std::shared_ptr<const HTTPURLResponse>& response, const Result<std::string>& result,
                        int line = __builtin_LINE());
  // The answer to a download, by the same rule.
  static void logDownloadAnswer(const std::optional<URLRequest>& request,
                                const std::shared_ptr<const HTTPURLResponse>& response, const std::optional<Data>& data,
                                const std::optional<NSError>& error, int line = __builtin_LINE());

  RequestLog() = delete;
};
