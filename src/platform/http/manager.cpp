#include "platform/http/manager.h"

#include <cstdio>
#include <filesystem>
#include <mutex>
#include <unordered_map>

#include "platform/foundation/run_loop.h"
#include "platform/net/url_error.h"

namespace {

// Backend answers are small; a body beyond this (after decoding) is a fault or an attack.
constexpr std::int64_t kMaximumResponseBodySize = 64 << 20;

URLSessionConfiguration withBodyLimit(URLSessionConfiguration configuration) {
  if (!configuration.maximumResponseBodySize) configuration.maximumResponseBodySize = kMaximumResponseBodySize;
  return configuration;
}

// A request that cannot be sent still answers, on a later turn of the main loop.
void failLater(const std::shared_ptr<Request>& request, NSError error) {
  RunLoop::main().post(
      [request, error = std::move(error)]() mutable { request->didComplete(nullptr, std::nullopt, std::move(error)); });
}

URLRequest makeURLRequest(Method method, std::string_view urlString, const HTTPHeaderFields& headers) {
  URLRequest urlRequest;
  urlRequest.url = URL::URLWithString(urlString);
  urlRequest.httpMethod = rawValue(method);
  for (const auto& [name, value] : headers) urlRequest.setValue(value, name);
  return urlRequest;
}

}  // namespace

// Hands each task's answer to its Request. Data tasks and in-memory uploads get their whole answer
// in one completion; uploads from a file go through the delegate callbacks, which collect the
// response and body first. Redirects are followed, except from https to anything else: the
// request (and a body a 307 would send again) never continues in clear text. Everything runs on
// the main queue; registration may come from any thread.
class Manager::SessionDelegate final : public URLSessionDelegate,
                                       public std::enable_shared_from_this<Manager::SessionDelegate> {
 public:
  // The manager is gone: nothing more is delivered.
  void detach() {
    std::unordered_map<unsigned long, Entry> dropped;
    {
      std::lock_guard lock(mutex_);
      detached_ = true;
      dropped.swap(entries_);
    }
    for (auto& [id, entry] : dropped) removeBodyFile(entry);
  }

  bool isDetached() const {
    std::lock_guard lock(mutex_);
    return detached_;
  }

  // `taskIdentifier` is filled in once the task exists, before it is resumed.
  URLSession::DataTaskCompletion completionFor(std::shared_ptr<Request> request,
                                               std::shared_ptr<const unsigned long> taskIdentifier) {
    return [weak = weak_from_this(), request = std::move(request), taskIdentifier](
               std::optional<Data> data, std::shared_ptr<const URLResponse> response, std::optional<NSError> error) {
      auto self = weak.lock();
      if (!self || self->isDetached()) return;
      if (auto refusal = self->takeRefusal(*taskIdentifier)) error = std::move(refusal);
      deliver(*request, std::move(response), std::move(data), std::move(error));
    };
  }

  void willPerformHTTPRedirection(const std::shared_ptr<URLSession>&, const std::shared_ptr<URLSessionTask>& task,
                                  const std::shared_ptr<const HTTPURLResponse>& response, const URLRequest& newRequest,
                                  RedirectCompletion completionHandler) override {
    if (!response || response->url().scheme() != "https" || !newRequest.url || newRequest.url->scheme() == "https") {
      completionHandler(newRequest);
      return;
    }
    {
      std::lock_guard lock(mutex_);
      refusals_[task->taskIdentifier()] =
          URLError(NSURLErrorAppTransportSecurityRequiresSecureConnection, newRequest.url);
    }
    // The cancel reaches the transfer before the answer, which then has nothing left to decide.
    task->cancel();
    completionHandler(std::nullopt);
  }

  void addFileUpload(unsigned long taskIdentifier, std::shared_ptr<Request> request, std::string bodyFile) {
    Entry entry{std::move(request), {}, nullptr, std::move(bodyFile)};
    std::lock_guard lock(mutex_);
    if (detached_) {
      removeBodyFile(entry);
      return;
    }
    entries_[taskIdentifier] = std::move(entry);
  }

  void didReceiveResponse(const std::shared_ptr<URLSession>&, const std::shared_ptr<URLSessionDataTask>& dataTask,
                          const std::shared_ptr<const URLResponse>& response,
                          ResponseCompletion completionHandler) override {
    {
      std::lock_guard lock(mutex_);
      if (auto it = entries_.find(dataTask->taskIdentifier()); it != entries_.end()) it->second.response = response;
    }
    completionHandler(URLSessionResponseDisposition::Allow);
  }

  void didReceiveData(const std::shared_ptr<URLSession>&, const std::shared_ptr<URLSessionDataTask>& dataTask,
                      const Data& data) override {
    std::lock_guard lock(mutex_);
    if (auto it = entries_.find(dataTask->taskIdentifier()); it != entries_.end()) it->second.body.append(data);
  }

  void didCompleteWithError(const std::shared_ptr<URLSession>&, const std::shared_ptr<URLSessionTask>& task,
                            const std::optional<NSError>& error) override {
    Entry entry;
    {
      std::lock_guard lock(mutex_);
      auto it = entries_.find(task->taskIdentifier());
      if (it == entries_.end()) return;
      entry = std::move(it->second);
      entries_.erase(it);
    }
    removeBodyFile(entry);
    auto refusal = takeRefusal(task->taskIdentifier());
    deliver(*entry.request, entry.response ? entry.response : task->response(), std::move(entry.body),
            refusal ? refusal : error);
  }

 private:
  struct Entry {
    std::shared_ptr<Request> request;
    Data body;
    std::shared_ptr<const URLResponse> response;
    std::string bodyFile;
  };

  std::optional<NSError> takeRefusal(unsigned long taskIdentifier) {
    std::lock_guard lock(mutex_);
    auto it = refusals_.find(taskIdentifier);
    if (it == refusals_.end()) return std::nullopt;
    NSError error = std::move(it->second);
    refusals_.erase(it);
    return error;
  }

  static void removeBodyFile(const Entry& entry) {
    if (!entry.bodyFile.empty()) std::remove(entry.bodyFile.c_str());
  }

  static void deliver(Request& request, std::shared_ptr<const URLResponse> response, std::optional<Data> data,
                      std::optional<NSError> error) {
    if (error) {
      // A transfer that failed part-way has no answer worth reading.
      request.didComplete(nullptr, std::nullopt, std::move(error));
      return;
    }
    request.didComplete(std::dynamic_pointer_cast<const HTTPURLResponse>(response), std::move(data).value_or(Data()),
                        std::nullopt);
  }

  mutable std::mutex mutex_;
  bool detached_ = false;
  std::unordered_map<unsigned long, Entry> entries_;
  std::unordered_map<unsigned long, NSError> refusals_;  // redirects refused, by task
};

std::shared_ptr<Manager> Manager::sharedInstance() {
  // Never destroyed: answers may still arrive while the process exits.
  static auto* instance = new std::shared_ptr<Manager>(make(URLSessionConfiguration::defaultSessionConfiguration()));
  return *instance;
}

std::shared_ptr<HTTPClient> HTTPClient::defaultClient() { return Manager::sharedInstance(); }

std::shared_ptr<Manager> Manager::make(const URLSessionConfiguration& configuration) {
  return std::shared_ptr<Manager>(new Manager(configuration));
}

Manager::Manager(const URLSessionConfiguration& configuration)
    : delegate_(std::make_shared<SessionDelegate>()),
      session_(URLSession::sessionWithConfiguration(withBodyLimit(configuration), delegate_, DispatchQueue::main())) {}

Manager::~Manager() {
  delegate_->detach();
  session_->invalidateAndCancel();
}

std::shared_ptr<Request> Manager::request(const URLRequest& urlRequest) {
  auto request = Request::make(urlRequest);
  if (!urlRequest.url) {
    failLater(request, URLError(NSURLErrorBadURL));
  } else {
    auto taskIdentifier = std::make_shared<unsigned long>(0);
    auto task = session_->dataTaskWithRequest(urlRequest, delegate_->completionFor(request, taskIdentifier));
    *taskIdentifier = task->taskIdentifier();
    task->resume();
  }
  return request;
}

std::shared_ptr<Request> Manager::request(Method method, std::string_view urlString, const HTTPHeaderFields& headers) {
  return request(makeURLRequest(method, urlString, headers));
}

void Manager::upload(Method method, std::string_view urlString, const HTTPHeaderFields& headers,
                     MultipartFormDataBuilder multipartFormData, std::uint64_t encodingMemoryThreshold,
                     EncodingCompletion encodingCompletion) {
  MultipartFormData form;
  if (multipartFormData) multipartFormData(form);
  URLRequest urlRequest = makeURLRequest(method, urlString, headers);
  urlRequest.setValue(form.contentType(), "Content-Type");

  // The body travels as the task's upload data, not in the URL request.
  auto request = Request::make(urlRequest);
  std::shared_ptr<URLSessionTask> task;
  auto taskIdentifier = std::make_shared<unsigned long>(0);
  MultipartFormDataEncodingResult result;
  if (!urlRequest.url) {
    failLater(request, URLError(NSURLErrorBadURL));
    result = MultipartFormDataEncodingResult::success(request, false, std::nullopt);
  } else if (form.contentLength() < encodingMemoryThreshold) {
    task =
        session_->uploadTaskWithRequest(urlRequest, form.encode(), delegate_->completionFor(request, taskIdentifier));
    result = MultipartFormDataEncodingResult::success(request, false, std::nullopt);
  } else {
    std::error_code ec;
    const auto directory = std::filesystem::temp_directory_path(ec);
    const std::string path =
        (ec ? std::filesystem::path("/tmp") : directory) / ("dorvale.multipart." + form.boundary());
    if (auto error = form.writeEncodedDataToFile(path)) {
      result = MultipartFormDataEncodingResult::failure(std::move(*error));
    } else {
      const URL fileURL = URL::fileURLWithPath(path);
      task = session_->uploadTaskWithRequest(urlRequest, fileURL);
      delegate_->addFileUpload(task->taskIdentifier(), request, path);
      result = MultipartFormDataEncodingResult::success(request, true, fileURL);
    }
  }
  if (encodingCompletion) {
    RunLoop::main().post([encodingCompletion = std::move(encodingCompletion), result] { encodingCompletion(result); });
  }
  if (task) {
    *taskIdentifier = task->taskIdentifier();
    task->resume();
  }
}
