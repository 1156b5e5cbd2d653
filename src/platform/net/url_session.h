#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/foundation/data.h"
#include "platform/foundation/dispatch.h"
#include "platform/foundation/ns_error.h"
#include "platform/foundation/url.h"
#include "platform/net/url_request.h"
#include "platform/net/url_response.h"
#include "platform/net/url_session_configuration.h"
#include "platform/net/url_session_delegate.h"
#include "platform/net/url_session_task.h"

namespace net_detail {
class Transfer;
}

// A URL-loading session over libcurl. All sessions share one engine thread that owns every
// connection, so requests to the same host reuse connections. Callbacks and completion handlers
// run in order on the delegate queue (a new serial queue when none is given; pass
// DispatchQueue::main() for the main run loop).
//
// The session holds its delegate strongly until it is invalidated; every task keeps its session
// alive. Thread-safe.
class URLSession : public std::enable_shared_from_this<URLSession> {
 public:
  using DataTaskCompletion =
      std::function<void(std::optional<Data>, std::shared_ptr<const URLResponse>, std::optional<NSError>)>;
  using DownloadTaskCompletion =
      std::function<void(std::optional<URL>, std::shared_ptr<const URLResponse>, std::optional<NSError>)>;
  using TasksCompletion = std::function<void(std::vector<std::shared_ptr<URLSessionDataTask>>,
                                             std::vector<std::shared_ptr<URLSessionUploadTask>>,
                                             std::vector<std::shared_ptr<URLSessionDownloadTask>>)>;

  // Default configuration, no delegate.
  static std::shared_ptr<URLSession> sharedSession();
  static std::shared_ptr<URLSession> sessionWithConfiguration(const URLSessionConfiguration& configuration);
  static std::shared_ptr<URLSession> sessionWithConfiguration(const URLSessionConfiguration& configuration,
                                                              std::shared_ptr<URLSessionDelegate> delegate,
                                                              std::shared_ptr<DispatchQueue> delegateQueue);
  ~URLSession();

  // Tasks of every session that were resumed and whose last callback has not run yet.
  static std::size_t transfersInFlight();
  // Counts as one transfer in flight for as long as the returned token lives: network work that
  // does not go through a session (a browser round trip) keeps waiters waiting the same way.
  static std::shared_ptr<void> holdTransferInFlight();

  const URLSessionConfiguration& configuration() const { return configuration_; }
  std::shared_ptr<URLSessionDelegate> delegate() const;
  const std::shared_ptr<DispatchQueue>& delegateQueue() const { return delegateQueue_; }
  std::optional<std::string> sessionDescription() const;
  void setSessionDescription(std::optional<std::string> description);

  // Tasks are created suspended. A task made after invalidation is born cancelled: resume()
  // completes it with NSURLErrorCancelled.
  std::shared_ptr<URLSessionDataTask> dataTaskWithRequest(const URLRequest& request);
  std::shared_ptr<URLSessionDataTask> dataTaskWithURL(const URL& url);
  // The handler gets the whole body (empty, not nothing, for an empty answer; nothing on error)
  // instead of the data callbacks and didCompleteWithError. Redirect, challenge and
  // didSendBodyData callbacks still go to the delegate.
  std::shared_ptr<URLSessionDataTask> dataTaskWithRequest(const URLRequest& request,
                                                          DataTaskCompletion completionHandler);
  std::shared_ptr<URLSessionUploadTask> uploadTaskWithRequest(const URLRequest& request, const Data& bodyData);
  std::shared_ptr<URLSessionUploadTask> uploadTaskWithRequest(const URLRequest& request, const URL& fileURL);
  std::shared_ptr<URLSessionUploadTask> uploadTaskWithRequest(const URLRequest& request, const Data& bodyData,
                                                              DataTaskCompletion completionHandler);
  // The body comes from the request's body stream, else from the delegate's needNewBodyStream.
  std::shared_ptr<URLSessionUploadTask> uploadTaskWithStreamedRequest(const URLRequest& request);
  // The body goes to a temporary file handed to didFinishDownloadingToURL (or the handler), then
  // removed.
  std::shared_ptr<URLSessionDownloadTask> downloadTaskWithRequest(const URLRequest& request);
  std::shared_ptr<URLSessionDownloadTask> downloadTaskWithURL(const URL& url);
  std::shared_ptr<URLSessionDownloadTask> downloadTaskWithRequest(const URLRequest& request,
                                                                  DownloadTaskCompletion completionHandler);
  // Goes on from cancelByProducingResumeData's data (or a failed download's error's
  // NSURLSessionDownloadTaskResumeData): asks for the rest with Range (and If-Range when the
  // answer had a validator) and reports didResumeAtOffset; a 200 answer starts over at 0. Data
  // that is not resume data, or whose partial file is gone, fails with NSURLErrorCannotOpenFile.
  std::shared_ptr<URLSessionDownloadTask> downloadTaskWithResumeData(const Data& resumeData);

  // The tasks not yet completed, on the delegate queue. A background session also has the live
  // tasks of the session made before it with the same identifier.
  void getTasksWithCompletionHandler(TasksCompletion completionHandler);

  // Refuses new tasks; once the running ones completed, didBecomeInvalidWithError(nothing) is
  // delivered and the delegate dropped.
  void finishTasksAndInvalidate();
  // The same, cancelling every task first.
  void invalidateAndCancel();

  struct Private;

 private:
  friend class URLSessionTask;
  friend class net_detail::Transfer;

  template <class T>
  std::shared_ptr<T> makeTask(std::shared_ptr<const URLRequest> request,
                              std::shared_ptr<net_detail::Transfer> transfer);
  // The download task a data task's transfer continues as.
  std::shared_ptr<URLSessionDownloadTask> adoptDownloadTask(const std::shared_ptr<const URLRequest>& request,
                                                            std::shared_ptr<net_detail::Transfer> transfer);
  // A task completed or was dropped unstarted: invalidates the session after the last one.
  void taskEnded(const URLSessionTask* task);
  // Takes over the live tasks of the previous session with this background identifier.
  void adoptBackgroundTasks();
  // On the delegate queue only, where alone the delegate is dropped: no lock needed.
  std::shared_ptr<URLSessionDelegate> delegateOnQueue() const;

  URLSession(const URLSessionConfiguration& configuration, std::shared_ptr<URLSessionDelegate> delegate,
             std::shared_ptr<DispatchQueue> delegateQueue, Private& p);

  const URLSessionConfiguration configuration_;
  const std::shared_ptr<DispatchQueue> delegateQueue_;
  Private* const p_;  // made in the same allocation as the session, and outlives it
};
