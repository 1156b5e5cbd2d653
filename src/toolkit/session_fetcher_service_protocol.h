#pragma once

#include <memory>

#include "platform/foundation/dispatch.h"
#include "platform/net/url_request.h"
#include "platform/net/url_session.h"
#include "platform/net/url_session_delegate.h"

class ZSDK_ZTKSessionFetcher;

// What a fetcher asks of the service that made it: admission per host, a shared session and its
// delegate, and bookkeeping as fetches begin and stop.
class ZTKSessionFetcherServiceProtocol {
 public:
  virtual ~ZTKSessionFetcherServiceProtocol() = default;

  // False: the service keeps the fetcher and begins it later itself.
  virtual bool fetcherShouldBeginFetching(const std::shared_ptr<ZSDK_ZTKSessionFetcher>& fetcher) = 0;
  virtual void fetcherDidCreateSession(const std::shared_ptr<ZSDK_ZTKSessionFetcher>& fetcher) = 0;
  virtual void fetcherDidBeginFetching(const std::shared_ptr<ZSDK_ZTKSessionFetcher>& fetcher) = 0;
  virtual void fetcherDidStop(const std::shared_ptr<ZSDK_ZTKSessionFetcher>& fetcher) = 0;
  virtual std::shared_ptr<ZSDK_ZTKSessionFetcher> fetcherWithRequest(const URLRequest& request) = 0;
  virtual bool isDelayingFetcher(const std::shared_ptr<ZSDK_ZTKSessionFetcher>& fetcher) = 0;
  // False only when `fetcher` waits nowhere, so that its begin need not ask `isDelayingFetcher`.
  // Called under the fetcher's lock: it must take no lock.
  virtual bool mayBeDelayingFetcher(const ZSDK_ZTKSessionFetcher& /*fetcher*/) { return true; }

  // The shared session, or nullptr.
  virtual std::shared_ptr<URLSession> session() = 0;
  // The delegate of the shared session, or nullptr when sharing is off.
  virtual std::shared_ptr<URLSessionDelegate> sessionDelegate() = 0;
  virtual std::shared_ptr<DispatchQueue> callbackQueue() = 0;
  virtual void setCallbackQueue(std::shared_ptr<DispatchQueue> queue) = 0;
  virtual bool reuseSession() = 0;
  virtual void setReuseSession(bool reuse) = 0;
  virtual std::shared_ptr<DispatchQueue> delegateQueue() = 0;
};
