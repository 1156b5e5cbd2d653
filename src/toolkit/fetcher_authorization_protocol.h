#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/ns_error.h"
#include "platform/net/url_request.h"

class ZTKSessionFetcherServiceProtocol;

// What a fetcher asks of the object that signs its requests. Requests are shared mutable objects:
// the authorizer signs the very request the fetcher holds, and identity (not equality) tells
// requests apart.
class ZTKFetcherAuthorizationProtocol {
 public:
  // The delegate's "authorizer:request:finishedWithError:".
  using DidFinishSelector =
      std::function<void(const std::shared_ptr<ZTKFetcherAuthorizationProtocol>& authorizer,
                         const std::shared_ptr<URLRequest>& request, const std::optional<NSError>& error)>;
  using CompletionHandler = std::function<void(const std::optional<NSError>& error)>;

  virtual ~ZTKFetcherAuthorizationProtocol() = default;

  // Signs `request` (at once or after a token refresh) and then calls `didFinishSelector`;
  // `delegate` is kept alive until then.
  virtual void authorizeRequest(std::shared_ptr<URLRequest> request, std::shared_ptr<void> delegate,
                                DidFinishSelector didFinishSelector) = 0;
  virtual void stopAuthorization() = 0;
  virtual void stopAuthorizationForRequest(const std::shared_ptr<URLRequest>& request) = 0;
  virtual bool isAuthorizingRequest(const std::shared_ptr<URLRequest>& request) = 0;
  virtual bool isAuthorizedRequest(const std::shared_ptr<URLRequest>& request) = 0;
  virtual std::optional<std::string> userEmail() = 0;

  // Optional parts; the defaults behave as an authorizer without them.
  virtual void authorizeRequest(std::shared_ptr<URLRequest> request, CompletionHandler handler) {
    authorizeRequest(std::move(request), nullptr,
                     [handler = std::move(handler)](const auto&, const auto&, const std::optional<NSError>& error) {
                       if (handler) handler(error);
                     });
  }
  // Readies the next authorization to refresh its token; false when it cannot.
  virtual bool primeForRefresh() { return false; }
  virtual bool canAuthorize() { return true; }
  virtual bool shouldAuthorizeAllRequests() { return false; }
  virtual void setShouldAuthorizeAllRequests(bool) {}
  virtual std::shared_ptr<ZTKSessionFetcherServiceProtocol> fetcherService() { return nullptr; }
  virtual void setFetcherService(std::shared_ptr<ZTKSessionFetcherServiceProtocol>) {}
};
