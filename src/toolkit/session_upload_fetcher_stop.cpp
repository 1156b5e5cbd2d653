#include <chrono>
#include <filesystem>
#include <thread>

#include "toolkit/session_fetcher_internal.h"
#include "toolkit/session_upload_fetcher.h"
#include "toolkit/session_upload_fetcher_internal.h"

using namespace ztk_fetcher_detail;
using namespace ztk_upload_detail;
namespace fs = std::filesystem;

// ---------------------------------------------------------------------------------------------
// Pause, stop, finish

void ZSDK_ZTKSessionUploadFetcher::pauseFetching() {
  {
    Lock lock(uploadMutex_);
    isPaused_ = true;
  }
  destroyChunkFetcher();
}

void ZSDK_ZTKSessionUploadFetcher::resumeFetching() {
  {
    Lock lock(uploadMutex_);
    if (!isPaused_) return;
    isPaused_ = false;
  }
  sendQueryForUploadOffsetWithFetcherProperties(properties());
}

void ZSDK_ZTKSessionUploadFetcher::stopFetching() {
  destroyChunkFetcher();
  std::shared_ptr<ZSDK_ZTKSessionFetcher> query;
  std::shared_ptr<Timer> timer;
  std::optional<URL> location;
  {
    Lock lock(uploadMutex_);
    query = std::exchange(fetcherInFlight_, nullptr);
    timer = std::exchange(queryDelayTimer_, nullptr);
    location = std::exchange(uploadLocationURL_, std::nullopt);
    selfInFlight_ = false;
  }
  if (timer) timer->invalidate();
  if (query) query->stopFetching();
  if (location) {
    {
      // The cancel goes to the location just cleared.
      Lock lock(uploadMutex_);
      uploadLocationURL_ = location;
    }
    sendCancelUploadWithFetcherProperties(properties());
    Lock lock(uploadMutex_);
    uploadLocationURL_.reset();
  }
  ZSDK_ZTKSessionFetcher::stopFetching();
  releaseUploadCallbacks();
}

void ZSDK_ZTKSessionUploadFetcher::destroyChunkFetcher() {
  std::shared_ptr<ZSDK_ZTKSessionFetcher> chunk;
  std::optional<URL> fileURL;
  {
    Lock lock(uploadMutex_);
    chunk = std::exchange(chunkFetcher_, nullptr);
    if (chunk && fetcherInFlight_ == chunk) fetcherInFlight_.reset();
    fileURL = uploadFileURL_;
  }
  if (!chunk) return;
  chunk->stopFetching();
  const auto body = chunk->bodyFileURL();
  if (body && body != fileURL) {
    std::error_code ec;
    fs::remove(body->path(), ec);
  }
  const auto headers = chunk->responseHeaders();
  {
    Lock lock(uploadMutex_);
    responseHeaders_ = headers;
  }
  chunk->setProperties({});
  chunk->setRetryBlock(nullptr);
}

void ZSDK_ZTKSessionUploadFetcher::invokeFinalCallbackWithData(std::optional<Data> data, std::optional<NSError> error,
                                                               bool shouldInvalidateLocation) {
  CompletionHandler handler;
  {
    Lock lock(uploadMutex_);
    if (shouldInvalidateLocation) uploadLocationURL_.reset();
    handler = delegateCompletionHandler_;
  }
  if (handler) {
    invokeOnCallbackQueueUnlessStopped(
        [handler, data = std::move(data), error = std::move(error)] { handler(data, error); });
  }
  releaseUploadCallbacks();
}

void ZSDK_ZTKSessionUploadFetcher::releaseUploadCallbacks() {
  // Dropped after the lock: captures may reach back into this fetcher.
  CompletionHandler handler;
  DataProvider provider;
  std::shared_ptr<ZTKUploadPreparedChunk> prepared;
  {
    Lock lock(uploadMutex_);
    handler = std::exchange(delegateCompletionHandler_, nullptr);
    provider = std::exchange(uploadDataProvider_, nullptr);
    // A chunk file made ahead goes with the last reference, here or at the end of the reader's
    // work on it.
    prepared = std::exchange(preparedChunk_, nullptr);
  }
  ZSDK_ZTKSessionFetcher::setCompletionHandler(nullptr);
  setSendProgressBlock(nullptr);
  setRetryBlock(nullptr);
  setConfigurationBlock(nullptr);
}

bool ZSDK_ZTKSessionUploadFetcher::waitForCompletionWithTimeout(TimeInterval timeoutInSeconds) {
  using SteadyClock = std::chrono::steady_clock;
  const auto deadline = SteadyClock::now() + std::chrono::duration_cast<SteadyClock::duration>(
                                                 std::chrono::duration<double>(std::clamp(timeoutInSeconds, 0.0, 1e7)));
  for (;;) {
    {
      Lock lock(uploadMutex_);
      if (!selfInFlight_ && !fetcherInFlight_ && !isSubdataGenerating_ && !queryDelayTimer_) return true;
    }
    if (SteadyClock::now() >= deadline) return false;
    if (RunLoop::isMainThread()) {
      RunLoop::main().runOnce(0.001);
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
}
