#include "platform/ui/url_contents.h"

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <iterator>
#include <mutex>

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

}  // namespace

std::optional<Data> dataWithContentsOfURL(const URL& url, TimeInterval timeout, std::optional<NSError>* outError) {
  if (outError) outError->reset();
  const std::string scheme = url.scheme().value_or("");
  if (url.isFileURL()) {
    std::ifstream in(url.path(), std::ios::binary);
    if (!in) return failed(URLError(NSURLErrorFileDoesNotExist, url), outError);
    return Data(std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
  }
  if (scheme != "http" && scheme != "https") return failed(URLError(NSURLErrorUnsupportedURL, url), outError);

  // Shared with the completion, which may still run after a time-out returned.
  auto outcome = std::make_shared<Outcome>();
  auto session = URLSession::sessionWithConfiguration(URLSessionConfiguration::defaultSessionConfiguration(), nullptr,
                                                      DispatchQueue::make("url-contents"));
  URLRequest request(url, timeout);
  auto task = session->dataTaskWithRequest(
      request,
      [outcome](std::optional<Data> data, std::shared_ptr<const URLResponse> response, std::optional<NSError> error) {
        auto http = std::dynamic_pointer_cast<const HTTPURLResponse>(response);
        std::lock_guard lock(outcome->mutex);
        if (!error && http && http->statusCode() >= 400) {
          error = URLError(NSURLErrorBadServerResponse, response->url());
          data.reset();
        }
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
