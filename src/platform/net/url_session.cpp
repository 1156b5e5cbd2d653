#include "platform/net/url_session.h"

struct URLSession::Private {
  std::mutex mutex;
  std::shared_ptr<URLSessionDelegate> delegate;
  std::optional<std::string> description;
};

URLSession::URLSession(const URLSessionConfiguration& configuration, std::shared_ptr<URLSessionDelegate> delegate,
                       std::shared_ptr<DispatchQueue> delegateQueue)
    : configuration_(configuration), delegateQueue_(std::move(delegateQueue)), p_(std::make_unique<Private>()) {
  p_->delegate = std::move(delegate);
}
URLSession::~URLSession() = default;

std::shared_ptr<URLSession> URLSession::sharedSession() {
  static auto shared = sessionWithConfiguration(URLSessionConfiguration::defaultSessionConfiguration());
  return shared;
}
std::shared_ptr<URLSession> URLSession::sessionWithConfiguration(const URLSessionConfiguration& configuration) {
  return sessionWithConfiguration(configuration, nullptr, nullptr);
}
std::shared_ptr<URLSession> URLSession::sessionWithConfiguration(const URLSessionConfiguration& configuration,
                                                                 std::shared_ptr<URLSessionDelegate> delegate,
                                                                 std::shared_ptr<DispatchQueue> delegateQueue) {
  return std::shared_ptr<URLSession>(new URLSession(configuration, std::move(delegate), std::move(delegateQueue)));
}
std::shared_ptr<URLSessionDelegate> URLSession::delegate() const {
  std::lock_guard lock(p_->mutex);
  return p_->delegate;
}
std::optional<std::string> URLSession::sessionDescription() const {
  std::lock_guard lock(p_->mutex);
  return p_->description;
}
void URLSession::setSessionDescription(std::optional<std::string> description) {
  std::lock_guard lock(p_->mutex);
  p_->description = std::move(description);
}
std::shared_ptr<URLSessionDataTask> URLSession::dataTaskWithRequest(const URLRequest& request) {
  return std::make_shared<URLSessionDataTask>(shared_from_this(), request);
}
std::shared_ptr<URLSessionDataTask> URLSession::dataTaskWithURL(const URL& url) {
  return dataTaskWithRequest(URLRequest(url));
}
std::shared_ptr<URLSessionDataTask> URLSession::dataTaskWithRequest(const URLRequest& request, DataTaskCompletion) {
  return dataTaskWithRequest(request);
}
std::shared_ptr<URLSessionUploadTask> URLSession::uploadTaskWithRequest(const URLRequest& request, const Data&) {
  return std::make_shared<URLSessionUploadTask>(shared_from_this(), request);
}
std::shared_ptr<URLSessionUploadTask> URLSession::uploadTaskWithRequest(const URLRequest& request, const URL&) {
  return std::make_shared<URLSessionUploadTask>(shared_from_this(), request);
}
std::shared_ptr<URLSessionUploadTask> URLSession::uploadTaskWithRequest(const URLRequest& request, const Data&,
                                                                        DataTaskCompletion) {
  return std::make_shared<URLSessionUploadTask>(shared_from_this(), request);
}
std::shared_ptr<URLSessionUploadTask> URLSession::uploadTaskWithStreamedRequest(const URLRequest& request) {
  return std::make_shared<URLSessionUploadTask>(shared_from_this(), request);
}
std::shared_ptr<URLSessionDownloadTask> URLSession::downloadTaskWithRequest(const URLRequest& request) {
  return std::make_shared<URLSessionDownloadTask>(shared_from_this(), request);
}
std::shared_ptr<URLSessionDownloadTask> URLSession::downloadTaskWithURL(const URL& url) {
  return downloadTaskWithRequest(URLRequest(url));
}
std::shared_ptr<URLSessionDownloadTask> URLSession::downloadTaskWithRequest(const URLRequest& request,
                                                                            DownloadTaskCompletion) {
  return downloadTaskWithRequest(request);
}
std::shared_ptr<URLSessionDownloadTask> URLSession::downloadTaskWithResumeData(const Data&) {
  return std::make_shared<URLSessionDownloadTask>(shared_from_this(), std::nullopt);
}
void URLSession::getTasksWithCompletionHandler(TasksCompletion) {}
void URLSession::finishTasksAndInvalidate() {}
void URLSession::invalidateAndCancel() {}
