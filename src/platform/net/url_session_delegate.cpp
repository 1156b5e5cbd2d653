#include "platform/net/url_session_delegate.h"

void URLSessionDelegate::didBecomeInvalidWithError(const std::shared_ptr<URLSession>&, const std::optional<NSError>&) {}

void URLSessionDelegate::didFinishEventsForBackgroundURLSession(const std::shared_ptr<URLSession>&) {}

void URLSessionDelegate::willPerformHTTPRedirection(const std::shared_ptr<URLSession>&,
                                                    const std::shared_ptr<URLSessionTask>&,
                                                    const std::shared_ptr<const HTTPURLResponse>&,
                                                    const URLRequest& newRequest,
                                                    RedirectCompletion completionHandler) {
  completionHandler(newRequest);
}

void URLSessionDelegate::didReceiveChallenge(const std::shared_ptr<URLSession>&, const std::shared_ptr<URLSessionTask>&,
                                             const URLAuthenticationChallenge&, ChallengeCompletion completionHandler) {
  completionHandler(URLSessionAuthChallengeDisposition::PerformDefaultHandling, std::nullopt);
}

void URLSessionDelegate::needNewBodyStream(const std::shared_ptr<URLSession>&, const std::shared_ptr<URLSessionTask>&,
                                           BodyStreamCompletion completionHandler) {
  completionHandler(nullptr);
}

void URLSessionDelegate::didSendBodyData(const std::shared_ptr<URLSession>&, const std::shared_ptr<URLSessionTask>&,
                                         std::int64_t, std::int64_t, std::int64_t) {}

void URLSessionDelegate::didCompleteWithError(const std::shared_ptr<URLSession>&,
                                              const std::shared_ptr<URLSessionTask>&, const std::optional<NSError>&) {}

void URLSessionDelegate::didReceiveResponse(const std::shared_ptr<URLSession>&,
                                            const std::shared_ptr<URLSessionDataTask>&,
                                            const std::shared_ptr<const URLResponse>&,
                                            ResponseCompletion completionHandler) {
  completionHandler(URLSessionResponseDisposition::Allow);
}

bool URLSessionDelegate::wantsResponseDisposition(const std::shared_ptr<URLSessionDataTask>&) { return true; }
void URLSessionDelegate::didBecomeDownloadTask(const std::shared_ptr<URLSession>&,
                                               const std::shared_ptr<URLSessionDataTask>&,
                                               const std::shared_ptr<URLSessionDownloadTask>&) {}

void URLSessionDelegate::didReceiveData(const std::shared_ptr<URLSession>&, const std::shared_ptr<URLSessionDataTask>&,
                                        const Data&) {}

void URLSessionDelegate::willCacheResponse(const std::shared_ptr<URLSession>&,
                                           const std::shared_ptr<URLSessionDataTask>&,
                                           const CachedURLResponse& proposedResponse,
                                           CacheCompletion completionHandler) {
  completionHandler(proposedResponse);
}

void URLSessionDelegate::didFinishDownloadingToURL(const std::shared_ptr<URLSession>&,
                                                   const std::shared_ptr<URLSessionDownloadTask>&, const URL&) {}

void URLSessionDelegate::didWriteData(const std::shared_ptr<URLSession>&,
                                      const std::shared_ptr<URLSessionDownloadTask>&, std::int64_t, std::int64_t,
                                      std::int64_t) {}

void URLSessionDelegate::didResumeAtOffset(const std::shared_ptr<URLSession>&,
                                           const std::shared_ptr<URLSessionDownloadTask>&, std::int64_t, std::int64_t) {
}
