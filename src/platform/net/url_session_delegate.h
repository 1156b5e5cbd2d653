#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "platform/foundation/data.h"
#include "platform/foundation/ns_error.h"
#include "platform/foundation/url.h"
#include "platform/net/input_stream.h"
#include "platform/net/url_authentication.h"
#include "platform/net/url_request.h"
#include "platform/net/url_response.h"

class URLSession;
class URLSessionTask;
class URLSessionDataTask;
class URLSessionDownloadTask;

enum class URLSessionResponseDisposition { Cancel = 0, Allow = 1, BecomeDownload = 2, BecomeStream = 3 };

// The session, task, data and download callbacks, all delivered in order on the session's
// delegate queue. Every default does what the platform does when the callback is not
// implemented.
//
// Completion handlers may be called on any thread, at once or later, at most once. A handler that
// is dropped without being called acts as its default (allow, follow the redirect, default
// handling, no stream), so a forgotten handler cannot stall a task.
class URLSessionDelegate {
 public:
  using RedirectCompletion = std::function<void(std::optional<URLRequest>)>;
  using ChallengeCompletion = std::function<void(URLSessionAuthChallengeDisposition, std::optional<URLCredential>)>;
  using BodyStreamCompletion = std::function<void(std::shared_ptr<InputStream>)>;
  using ResponseCompletion = std::function<void(URLSessionResponseDisposition)>;
  using CacheCompletion = std::function<void(std::optional<CachedURLResponse>)>;

  virtual ~URLSessionDelegate() = default;

  // Session. The session drops its delegate right after didBecomeInvalidWithError.
  virtual void didBecomeInvalidWithError(const std::shared_ptr<URLSession>& session,
                                         const std::optional<NSError>& error);
  virtual void didFinishEventsForBackgroundURLSession(const std::shared_ptr<URLSession>& session);

  // Task. A completion with nothing refuses the redirect: the 3xx becomes the final response.
  virtual void willPerformHTTPRedirection(const std::shared_ptr<URLSession>& session,
                                          const std::shared_ptr<URLSessionTask>& task,
                                          const std::shared_ptr<const HTTPURLResponse>& response,
                                          const URLRequest& newRequest, RedirectCompletion completionHandler);
  virtual void didReceiveChallenge(const std::shared_ptr<URLSession>& session,
                                   const std::shared_ptr<URLSessionTask>& task,
                                   const URLAuthenticationChallenge& challenge, ChallengeCompletion completionHandler);
  virtual void needNewBodyStream(const std::shared_ptr<URLSession>& session,
                                 const std::shared_ptr<URLSessionTask>& task, BodyStreamCompletion completionHandler);
  virtual void didSendBodyData(const std::shared_ptr<URLSession>& session, const std::shared_ptr<URLSessionTask>& task,
                               std::int64_t bytesSent, std::int64_t totalBytesSent,
                               std::int64_t totalBytesExpectedToSend);
  virtual void didCompleteWithError(const std::shared_ptr<URLSession>& session,
                                    const std::shared_ptr<URLSessionTask>& task, const std::optional<NSError>& error);

  // Data task.
  virtual void didReceiveResponse(const std::shared_ptr<URLSession>& session,
                                  const std::shared_ptr<URLSessionDataTask>& dataTask,
                                  const std::shared_ptr<const URLResponse>& response,
                                  ResponseCompletion completionHandler);
  // False: the delegate would allow every response of `task`, so the body need not wait for its
  // answer (didReceiveResponse is still called; its completion is ignored).
  virtual bool wantsResponseDisposition(const std::shared_ptr<URLSessionDataTask>& dataTask);
  virtual void didBecomeDownloadTask(const std::shared_ptr<URLSession>& session,
                                     const std::shared_ptr<URLSessionDataTask>& dataTask,
                                     const std::shared_ptr<URLSessionDownloadTask>& downloadTask);
  virtual void didReceiveData(const std::shared_ptr<URLSession>& session,
                              const std::shared_ptr<URLSessionDataTask>& dataTask, const Data& data);
  virtual void willCacheResponse(const std::shared_ptr<URLSession>& session,
                                 const std::shared_ptr<URLSessionDataTask>& dataTask,
                                 const CachedURLResponse& proposedResponse, CacheCompletion completionHandler);

  // Download task. The file at `location` is removed once this returns.
  virtual void didFinishDownloadingToURL(const std::shared_ptr<URLSession>& session,
                                         const std::shared_ptr<URLSessionDownloadTask>& downloadTask,
                                         const URL& location);
  virtual void didWriteData(const std::shared_ptr<URLSession>& session,
                            const std::shared_ptr<URLSessionDownloadTask>& downloadTask, std::int64_t bytesWritten,
                            std::int64_t totalBytesWritten, std::int64_t totalBytesExpectedToWrite);
  virtual void didResumeAtOffset(const std::shared_ptr<URLSession>& session,
                                 const std::shared_ptr<URLSessionDownloadTask>& downloadTask, std::int64_t fileOffset,
                                 std::int64_t expectedTotalBytes);
};
