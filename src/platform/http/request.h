#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/data.h"
#include "platform/foundation/dispatch.h"
#include "platform/foundation/ns_error.h"
#include "platform/http/result.h"
#include "platform/http/string_encoding.h"
#include "platform/net/url_request.h"
#include "platform/net/url_response.h"

// One request of the HTTP framework: the URL request it sent, and the answer once it came.
// Handlers registered on it run once each, in the order registered, on the main run loop (or the
// queue given), never inside the call that registers them. A validate() step applies to the
// handlers registered after it.
//
// The client that sent the request feeds the answer through didComplete(); a scripted test client
// may do the same.
class Request : public std::enable_shared_from_this<Request> {
 public:
  using StringHandler =
      std::function<void(const std::optional<URLRequest>& request,
                         const std::shared_ptr<const HTTPURLResponse>& response, const Result<std::string>& result)>;
  using DataHandler = std::function<void(const std::optional<URLRequest>& request,
                                         const std::shared_ptr<const HTTPURLResponse>& response,
                                         const std::optional<Data>& data, const std::optional<NSError>& error)>;

  static std::shared_ptr<Request> make(std::optional<URLRequest> request);

  // The URL request as sent, with the fields the framework added.
  const std::optional<URLRequest>& request() const { return request_; }
  // The HTTP response, once answered (nothing before, and when no answer came).
  std::shared_ptr<const HTTPURLResponse> response() const;

  // A status code outside 200-299 makes the answer a failure that keeps the body and response.
  std::shared_ptr<Request> validate();
  // The body as text. Without an encoding: the response's charset, else Latin-1. Bytes that do not
  // read in the encoding give a failure with the data; an empty body reads as "".
  std::shared_ptr<Request> responseString(std::optional<StringEncoding> encoding, StringHandler handler);
  // The answer as delivered. No queue: the main run loop.
  std::shared_ptr<Request> response(std::shared_ptr<DispatchQueue> queue, DataHandler handler);

  // Main thread. With an error there is no response and no data; without one, the response and
  // the body (possibly empty). Later calls are ignored.
  void didComplete(std::shared_ptr<const HTTPURLResponse> response, std::optional<Data> data,
                   std::optional<NSError> error);

 private:
  explicit Request(std::optional<URLRequest> request) : request_(std::move(request)) {}
  void addStep(std::function<void()> step);
  void drain();
  Result<std::string> serializeString(std::optional<StringEncoding> encoding) const;

  const std::optional<URLRequest> request_;
  // Everything below belongs to the main thread.
  std::shared_ptr<const HTTPURLResponse> response_;
  std::optional<Data> data_;
  std::optional<NSError> error_;
  bool completed_ = false;
  bool drainScheduled_ = false;
  std::deque<std::function<void()>> steps_;
};
