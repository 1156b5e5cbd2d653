#include "platform/ui/url_contents.h"

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <iterator>
#include <mutex>

#include <tl/expected.hpp>

#include "platform/net/url_error.h"
#include "platform/net/url_session.h"

namespace {

struct Outcome {
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;
  std::optional<Data> data;
  std::optional<NSError> error;
};

std::optional<Data> failed(NSError error, std::optional<NSError>* outError) {
  if (outError) *outError = std::move(error);
  return std::nullopt;
}

// An HTTP error status is a failure, whatever its body.
void rejectErrorStatus(std::optional<Data>& data, const URLResponse* response, std::optional<NSError>& error) {
  auto http = dynamic_cast<const HTTPURLResponse*>(response);
  if (error || !http || http->statusCode() < 400) return;
  error = URLError(NSURLErrorBadServerResponse, response->url());
  data.reset();
}

// A URL not fetched over the network: the bytes of a file, else the reason.
tl::expected<Data, NSError> localContents(const URL& url) {
  if (!url.isFileURL()) return tl::make_unexpected(URLError(NSURLErrorUnsupportedURL, url));
  std::ifstream in(url.path(), std::ios::binary);
  if (!in) return tl::make_unexpected(URLError(NSURLErrorFileDoesNotExist, url));
  return Data(std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
}

bool isNetworkURL(const URL& url) {
  const std::string scheme = url.scheme().value_or("");
  return !url.isFileURL() && (scheme == "http" || scheme == "https");
}

}  // namespace

std::optional<Data> dataWithContentsOfURL(const URL& url, TimeInterval timeout, std::optional<NSError>* outError) {
  if (outError) outError->reset();
  if (!isNetworkURL(url)) {
    auto local = localContents(url);
    if (!local) return failed(std::move(local.error()), outError);
    return std::move(*local);
  }

  // Shared with the completion, which may still run after a time-out returned.
  auto outcome = std::make_shared<Outcome>();
  auto session = URLSession::sessionWithConfiguration(URLSessionConfiguration::defaultSessionConfiguration(), nullptr,
                                                      DispatchQueue::make("url-contents"));
  URLRequest request(url, timeout);
  auto task = session->dataTaskWithRequest(
      request,
      [outcome](std::optional<Data> data, std::shared_ptr<const URLResponse> response, std::optional<NSError> error) {
        rejectErrorStatus(data, response.get(), error);
        std::lock_guard lock(outcome->mutex);
        outcome->data = std::move(data);
        outcome->error = std::move(error);
        outcome->finished = true;
        outcome->done.notify_all();
      });
  session->finishTasksAndInvalidate();
  task->resume();
  std::unique_lock lock(outcome->mutex);
  const auto limit = std::chrono::duration<double>(timeout > 0 ? timeout : 0);
  if (!outcome->done.wait_for(lock, limit, [&] { return outcome->finished; })) {
    lock.unlock();
    task->cancel();
    return failed(URLError(NSURLErrorTimedOut, url), outError);
  }
  if (!outcome->data) return failed(outcome->error.value_or(URLError(NSURLErrorUnknown, url)), outError);
  return std::move(outcome->data);
}

std::shared_ptr<URLSessionDataTask> loadContentsOfURL(const URL& url, TimeInterval timeout,
                                                      URLContentsCompletion completion) {
  if (!isNetworkURL(url)) {
    DispatchQueue::main()->async([local = localContents(url), completion = std::move(completion)]() mutable {
      if (local) return completion(std::move(*local), std::nullopt);
      completion(std::nullopt, std::move(local.error()));
    });
    return nullptr;
  }
  auto session = URLSession::sessionWithConfiguration(URLSessionConfiguration::defaultSessionConfiguration(), nullptr,
                                                      DispatchQueue::main());
  auto task = session->dataTaskWithRequest(
      URLRequest(url, timeout),
      [completion = std::move(completion), url](std::optional<Data> data, std::shared_ptr<const URLResponse> response,
                                                std::optional<NSError> error) {
        rejectErrorStatus(data, response.get(), error);
        if (!data && !error) error = URLError(NSURLErrorUnknown, url);
        completion(std::move(data), std::move(error));
      });
  session->finishTasksAndInvalidate();
  task->resume();
  return task;
}
