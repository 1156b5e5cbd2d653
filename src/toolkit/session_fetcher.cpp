#include "toolkit/session_fetcher.h"

#include <string_view>
#include <typeinfo>
#include <utility>

#include "toolkit/block_pool.h"
#include "toolkit/session_cookie_storage.h"
#include "toolkit/session_fetcher_internal.h"

using namespace ztk_fetcher_detail;

// ---------------------------------------------------------------------------------------------
// Creation

std::shared_ptr<ZSDK_ZTKSessionFetcher> ZSDK_ZTKSessionFetcher::fetcherWithRequest(std::optional<URLRequest> request) {
  return initWithRequest(std::move(request));
}

std::shared_ptr<ZSDK_ZTKSessionFetcher> ZSDK_ZTKSessionFetcher::fetcherWithURL(const URL& url) {
  return fetcherWithRequest(URLRequest::requestWithURL(url));
}

std::shared_ptr<ZSDK_ZTKSessionFetcher> ZSDK_ZTKSessionFetcher::fetcherWithURLString(std::string_view urlString) {
  URLRequest request;
  request.url = URL::URLWithString(urlString);
  return fetcherWithRequest(std::move(request));
}

std::shared_ptr<ZSDK_ZTKSessionFetcher> ZSDK_ZTKSessionFetcher::initWithRequest(
    std::optional<URLRequest> request, std::optional<URLSessionConfiguration> configuration) {
  return std::allocate_shared<ZSDK_ZTKSessionFetcher>(ztk_pool_detail::PooledAllocator<ZSDK_ZTKSessionFetcher>(),
                                                      std::move(request), std::move(configuration));
}

ZSDK_ZTKSessionFetcher::ZSDK_ZTKSessionFetcher(std::optional<URLRequest> request,
                                               std::optional<URLSessionConfiguration> configuration) {
  if (request) {
    request_ = std::allocate_shared<URLRequest>(ztk_pool_detail::PooledAllocator<URLRequest>(), std::move(*request));
  }
  configuration_ = std::move(configuration);
  bodyLength_ = request_ && request_->httpBody ? static_cast<std::int64_t>(request_->httpBody->size())
                                               : NSURLSessionTransferSizeUnknown;
  callbackQueue_ = DispatchQueue::main();
  delegateQueue_ = callbackQueue_;
  minRetryInterval_ = randomMinRetryInterval();
}

ZSDK_ZTKSessionFetcher::~ZSDK_ZTKSessionFetcher() {
  if (sessionIdentifier_) {
    auto& state = classState();
    std::lock_guard lock(state.mutex);
    auto it = state.fetchersBySessionIdentifier.find(*sessionIdentifier_);
    if (it != state.fetchersBySessionIdentifier.end() && it->second.expired())
      state.fetchersBySessionIdentifier.erase(it);
  }
}

std::string ZSDK_ZTKSessionFetcher::description() const {
  Lock lock(mutex_);
  return fmt::format("ZSDK_ZTKSessionFetcher {} ({})", fmt::ptr(this), requestURLString(request_));
}
// ---------------------------------------------------------------------------------------------
// Result

std::shared_ptr<const URLResponse> ZSDK_ZTKSessionFetcher::responseLocked() const {
  if (sessionTask_) {
    if (auto response = sessionTask_->response()) return response;
  }
  return response_;
}

std::shared_ptr<const URLResponse> ZSDK_ZTKSessionFetcher::response() const {
  Lock lock(mutex_);
  return responseLocked();
}

int ZSDK_ZTKSessionFetcher::statusCode() const {
  Lock lock(mutex_);
  return statusCodeLocked();
}

int ZSDK_ZTKSessionFetcher::statusCodeLocked() const {
  const auto response = responseLocked();
  if (!response) return 0;
  // Nearly always the HTTP response itself: no walk through the class hierarchy for it.
  const URLResponse& any = *response;
  const auto* http = typeid(any) == typeid(HTTPURLResponse) ? static_cast<const HTTPURLResponse*>(response.get())
                                                            : dynamic_cast<const HTTPURLResponse*>(response.get());
  return http ? http->statusCode() : 0;
}

std::optional<HTTPHeaderFields> ZSDK_ZTKSessionFetcher::responseHeaders() const {
  auto http = std::dynamic_pointer_cast<const HTTPURLResponse>(response());
  if (!http) return std::nullopt;
  return http->allHeaderFields();
}

bool ZSDK_ZTKSessionFetcher::isFetching() {
  std::shared_ptr<ZTKFetcherAuthorizationProtocol> authorizer;
  std::shared_ptr<ZTKSessionFetcherServiceProtocol> service;
  std::shared_ptr<URLRequest> request;
  {
    Lock lock(mutex_);
    if (sessionTask_ || retryTimer_) return true;
    authorizer = authorizer_;
    service = service_;
    request = request_;
  }
  return heldByCollaborators(authorizer, service, request);
}

bool ZSDK_ZTKSessionFetcher::heldByCollaborators(const std::shared_ptr<ZTKFetcherAuthorizationProtocol>& authorizer,
                                                 const std::shared_ptr<ZTKSessionFetcherServiceProtocol>& service,
                                                 const std::shared_ptr<URLRequest>& request) {
  if (authorizer && authorizer->isAuthorizingRequest(request)) return true;
  return service && service->isDelayingFetcher(shared_from_this());
}

std::int64_t ZSDK_ZTKSessionFetcher::bodyLength() {
  Lock lock(mutex_);
  if (bodyLength_ == NSURLSessionTransferSizeUnknown) {
    if (bodyData_) {
      bodyLength_ = static_cast<std::int64_t>(bodyData_->size());
    } else if (bodyFileURL_) {
      std::error_code ec;
      const auto size = std::filesystem::file_size(bodyFileURL_->path(), ec);
      if (!ec) bodyLength_ = static_cast<std::int64_t>(size);
    }
  }
  return bodyLength_;
}

// ---------------------------------------------------------------------------------------------
// Cookies

std::shared_ptr<ZSDK_ZTKSessionCookieStorage> ZSDK_ZTKSessionFetcher::staticCookieStorage() {
  static auto* storage =
      new std::shared_ptr<ZSDK_ZTKSessionCookieStorage>(std::make_shared<ZSDK_ZTKSessionCookieStorage>());
  return *storage;
}

void ZSDK_ZTKSessionFetcher::setCookieStorageMethod(long method) {
  switch (method) {
    case 1: break;
    case 2: setCookieStorage(HTTPCookieStorage::sharedHTTPCookieStorage()); break;
    case 3: setCookieStorage(std::make_shared<ZSDK_ZTKSessionCookieStorage>()); break;
    default: setCookieStorage(nullptr); break;
  }
}

// ---------------------------------------------------------------------------------------------
// Process-wide collaborators

void ZSDK_ZTKSessionFetcher::setGlobalTestBlock(TestBlock block) {
  auto& state = classState();
  std::lock_guard lock(state.mutex);
  state.globalTestBlock = std::move(block);
  state.hasGlobalTestBlock.store(static_cast<bool>(state.globalTestBlock), std::memory_order_release);
}

void ZSDK_ZTKSessionFetcher::setLogging(std::shared_ptr<ZTKSessionFetcherLogging> logging) {
  auto& state = classState();
  std::lock_guard lock(state.mutex);
  state.logging = std::move(logging);
  state.hasLogging.store(state.logging != nullptr, std::memory_order_release);
}

std::shared_ptr<ZTKSessionFetcherLogging> ZSDK_ZTKSessionFetcher::logging() {
  auto& state = classState();
  if (!state.hasLogging.load(std::memory_order_acquire)) return nullptr;
  std::lock_guard lock(state.mutex);
  return state.logging;
}
