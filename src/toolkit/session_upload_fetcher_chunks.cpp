#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <tl/expected.hpp>

#include "platform/foundation/notification_center.h"
#include "toolkit/session_fetcher_internal.h"
#include "toolkit/session_fetcher_service.h"
#include "toolkit/session_upload_fetcher.h"
#include "toolkit/session_upload_fetcher_internal.h"

using namespace ztk_fetcher_detail;
using namespace ztk_upload_detail;
namespace fs = std::filesystem;

namespace {

NSError chunkUnavailable(const std::string& description) {
  return NSError(kZTKSessionFetcherErrorDomain, ZTKSessionFetcherErrorUploadChunkUnavailable,
                 {{"description", description}});
}

NSError statusError501(const std::optional<Data>& body) {
  Value::Dictionary info;
  if (body && !body->empty()) info[kZTKSessionFetcherStatusDataKey] = *body;
  return NSError(kZTKSessionFetcherStatusDomain, 501, std::move(info));
}

std::optional<std::string> header(const std::optional<HTTPHeaderFields>& headers, const char* name) {
  return headers ? headers->valueForHTTPHeaderField(name) : std::nullopt;
}

// Offsets and sizes of an upload may pass 2 GiB.
std::int64_t int64Value(std::string_view text) { return leadingIntegerValue(text, INT64_MAX); }

// Reads [offset, offset + length) with pread; a short file is an unavailable chunk.
tl::expected<Data, NSError> readRange(int fd, std::int64_t offset, std::int64_t length) {
  Data data(std::vector<std::uint8_t>(static_cast<std::size_t>(length)));
  std::int64_t done = 0;
  while (done < length) {
    const ssize_t n = ::pread(fd, data.bytes.data() + done, static_cast<std::size_t>(length - done), offset + done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return tl::unexpected(chunkUnavailable(std::strerror(errno)));
    if (n == 0) return tl::unexpected(chunkUnavailable("file ended before the chunk"));
    done += n;
  }
  return data;
}

// A serial reader off the main thread: chunk bytes come from disk there.
std::shared_ptr<DispatchQueue> chunkReaderQueue() {
  static auto* queue = new std::shared_ptr<DispatchQueue>(DispatchQueue::make("ZTKUploadChunkReader"));
  return *queue;
}

// Written beside its final name and renamed, so a chunk file is never seen half written.
bool writeAtomically(const std::string& path, const Data& data) {
  const std::string partial = path + ".partial";
  {
    std::ofstream out(partial, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    if (!out) {
      std::error_code ec;
      fs::remove(partial, ec);
      return false;
    }
  }
  std::error_code ec;
  fs::rename(partial, path, ec);
  return !ec;
}

// The range copied file to file inside the kernel: the chunk never passes through this process's
// memory. False (and nothing left behind) where that cannot be done, say across file systems.
bool copyAtomically(int source, std::int64_t offset, std::int64_t length, const std::string& path) {
  const std::string partial = path + ".partial";
  const int out = ::open(partial.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (out < 0) return false;
  auto from = static_cast<off_t>(offset);
  std::int64_t left = length;
  while (left > 0) {
    const ssize_t n = ::copy_file_range(source, &from, out, nullptr, static_cast<std::size_t>(left), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    left -= n;
  }
  const bool written = ::close(out) == 0 && left == 0;
  if (written && ::rename(partial.c_str(), path.c_str()) == 0) return true;
  ::unlink(partial.c_str());
  return false;
}

// A file source's chunk as its fetcher sends it: a temporary file holding the range, or the bytes
// themselves when no such file could be written.
ZTKUploadChunkBody fileChunkBody(const std::string& source, std::int64_t offset, std::int64_t length) {
  const auto file = ZTKUploadFileHandle::fileHandleForReadingAtPath(source);
  if (!file) return {.error = NSError("NSPOSIXErrorDomain", errno, {{"NSFilePath", source}})};
  const std::string path = (fs::temp_directory_path() / ("ZTKUpload_temp_" + makeUUIDString())).string();
  if (copyAtomically(file->fileDescriptor(), offset, length, path)) return {.file = path};
  // A short or unreadable source is told apart here, as a read would find it.
  auto bytes = readRange(file->fileDescriptor(), offset, length);
  if (!bytes) return {.error = bytes.error()};
  if (writeAtomically(path, *bytes)) return {.file = path};
  return {.data = std::move(*bytes)};
}

}  // namespace

// The next chunk's file, made on the reader queue while the chunk before it is sent, so that the
// copy is off the path between one chunk's answer and the next chunk. Touched only on that queue.
struct ZTKUploadPreparedChunk {
  std::int64_t offset = -1;
  std::int64_t length = -1;
  std::optional<std::string> file;

  ~ZTKUploadPreparedChunk() { discard(); }
  void discard() {
    std::error_code ec;
    if (file) fs::remove(*file, ec);
    file.reset();
  }
  void prepare(const std::string& source, std::int64_t at, std::int64_t size) {
    discard();
    auto body = fileChunkBody(source, at, size);
    // Bytes held in memory or a failure are left to the chunk's own turn.
    if (!body.file) return;
    offset = at;
    length = size;
    file = std::move(body.file);
  }
  // The chunk's body: the prepared file when it is this range, else made now.
  ZTKUploadChunkBody take(const std::string& source, std::int64_t at, std::int64_t size) {
    if (file && offset == at && length == size) return {.file = std::exchange(file, std::nullopt)};
    discard();
    return fileChunkBody(source, at, size);
  }
};

// ---------------------------------------------------------------------------------------------
// Beginning

void ZSDK_ZTKSessionUploadFetcher::beginFetchWithCompletionHandler(CompletionHandler handler) {
  bool restarted = false;
  bool paused = false;
  {
    Lock lock(uploadMutex_);
    delegateCompletionHandler_ = std::move(handler);
    restarted = isRestartedUpload_;
    paused = isPaused_;
  }
  if (restarted) {
    if (!paused) sendQueryForUploadOffsetWithFetcherProperties(properties());
    return;
  }
  setFetcherInFlight(self());
  // Held weakly: the plain fetcher keeps this handler after its own request.
  std::weak_ptr<Upload> weak = self();
  ZSDK_ZTKSessionFetcher::beginFetchWithCompletionHandler(
      [weak](std::optional<Data> data, std::optional<NSError> error) {
        if (auto upload = weak.lock()) upload->startRequestFinished(std::move(data), std::move(error));
      });
}

void ZSDK_ZTKSessionUploadFetcher::startRequestFinished(std::optional<Data> data, std::optional<NSError> error) {
  setFetcherInFlight(nullptr);
  bool restarted = false;
  {
    Lock lock(uploadMutex_);
    restarted = isRestartedUpload_;
  }
  if (isUsingTestBlock()) {
    // The whole body is produced once, as the chunks would read it.
    auto upload = self();
    generateChunkSubdataWithOffset(0, fullUploadLength(), [upload, data, error](auto, auto) {
      upload->invokeFinalCallbackWithData(data, error, true);
    });
  } else if (restarted) {
    invokeFinalCallbackWithData(std::move(data), std::move(error), true);
  } else if (error) {
    invokeFinalCallbackWithData(std::nullopt, std::move(error), true);
  } else {
    beginChunkFetches();
  }
}

void ZSDK_ZTKSessionUploadFetcher::beginChunkFetches() {
  const auto headers = ZSDK_ZTKSessionFetcher::responseHeaders();
  const std::string location = header(headers, kURLHeader).value_or("");
  const std::string status = header(headers, kStatusHeader).value_or("");
  retrieveUploadChunkGranularityFromResponseHeaders(headers);
  const auto url = location.empty() ? std::nullopt : URL::URLWithString(location);
  if (status == "final" || !url) {
    invokeFinalCallbackWithData(std::nullopt, statusError501(ZSDK_ZTKSessionFetcher::downloadedData()), true);
    return;
  }
  bool paused = false;
  {
    Lock lock(uploadMutex_);
    uploadLocationURL_ = url;
    paused = isPaused_;
  }
  NotificationCenter::defaultCenter()->postNotificationName(kZTKSessionFetcherUploadLocationObtainedNotification,
                                                            self());
  if (!paused) uploadNextChunkWithOffset(0, properties());
}

void ZSDK_ZTKSessionUploadFetcher::retrieveUploadChunkGranularityFromResponseHeaders(
    const std::optional<HTTPHeaderFields>& headers) {
  const auto value = header(headers, kGranularityHeader);
  Lock lock(uploadMutex_);
  uploadGranularity_ = value ? int64Value(*value) : 0;
}

// ---------------------------------------------------------------------------------------------
// Chunks

void ZSDK_ZTKSessionUploadFetcher::uploadNextChunkWithOffset(std::int64_t offset, const Properties& properties) {
  auto chunk = uploadFetcherWithProperties(properties, false);
  attachProgressBlock(chunk);
  ZTKUploadChunkPlan plan;
  std::optional<URL> fileURL;
  bool hasProvider = false;
  {
    Lock lock(uploadMutex_);
    fileURL = uploadFileURL_;
    hasProvider = static_cast<bool>(uploadDataProvider_);
  }
  const bool isFileURLSource = fileURL && !hasProvider && !uploadData();
  const std::int64_t fullLength = fullUploadLength();
  {
    Lock lock(uploadMutex_);
    plan = planUploadChunk(chunkSize_, offset, fullLength, uploadGranularity_, isFileURLSource);
  }
  auto request = chunk->mutableRequest();
  request->setValue(plan.command, kCommandHeader);
  request->setValue(std::to_string(plan.length), "Content-Length");
  request->setValue(std::to_string(plan.offset), kOffsetHeader);
  chunk->setComment(fmt::format("{} ({}-{})", uploadComment(), plan.offset,
                                std::max<std::int64_t>(plan.offset + plan.length - 1, 0)));

  if (isFileURLSource && plan.offset == 0 && plan.length == fullLength) {
    chunk->setBodyFileURL(fileURL);
    beginChunkFetcher(chunk, plan.offset);
    return;
  }
  {
    Lock lock(uploadMutex_);
    isSubdataGenerating_ = true;
  }
  auto upload = self();
  if (isFileURLSource) {
    std::optional<ZTKUploadChunkPlan> next;
    std::shared_ptr<ZTKUploadPreparedChunk> prepared;
    {
      Lock lock(uploadMutex_);
      if (plan.offset + plan.length < fullLength)
        next = planUploadChunk(chunkSize_, plan.offset + plan.length, fullLength, uploadGranularity_, true);
      if (!preparedChunk_) preparedChunk_ = std::make_shared<ZTKUploadPreparedChunk>();
      prepared = preparedChunk_;
    }
    chunkReaderQueue()->async([upload, chunk, prepared, next, path = fileURL->path(), plan] {
      auto body = prepared->take(path, plan.offset, plan.length);
      DispatchQueue::main()->async([upload, chunk, offset = plan.offset, body = std::move(body)]() mutable {
        upload->chunkBodyGenerated(chunk, offset, std::move(body));
      });
      if (next) prepared->prepare(path, next->offset, next->length);
    });
    return;
  }
  generateChunkSubdataWithOffset(
      plan.offset, plan.length,
      [upload, chunk, offset = plan.offset](std::optional<Data> data, std::optional<NSError> error) {
        DispatchQueue::main()->async(
            [upload, chunk, offset, data = std::move(data), error = std::move(error)]() mutable {
              upload->chunkBodyGenerated(chunk, offset, {.data = std::move(data), .error = std::move(error)});
            });
      });
}

void ZSDK_ZTKSessionUploadFetcher::generateChunkSubdataWithOffset(std::int64_t offset, std::int64_t length,
                                                                  DataProviderResponse response) {
  DataProvider provider;
  std::optional<Data> data;
  std::optional<URL> fileURL;
  std::shared_ptr<ZTKUploadFileHandle> handle;
  {
    Lock lock(uploadMutex_);
    provider = uploadDataProvider_;
    data = provider ? std::nullopt : uploadData_;
    fileURL = uploadFileURL_;
    handle = uploadFileHandle_;
  }
  if (provider) {
    provider(offset, length, std::move(response));
  } else if (data) {
    const auto size = static_cast<std::int64_t>(data->size());
    if (offset == 0 && length == size) {
      response(std::move(data), std::nullopt);
    } else if (offset >= 0 && length >= 0 && offset + length <= size) {
      response(Data(std::vector<std::uint8_t>(data->bytes.begin() + offset, data->bytes.begin() + offset + length)),
               std::nullopt);
    } else {
      response(std::nullopt,
               chunkUnavailable(fmt::format("Range invalid for upload data.  offset: {}\tlength: {}\tdataLength: {}",
                                            offset, length, size)));
    }
  } else if (fileURL) {
    // Only the range is read: a chunk never costs the whole file in memory.
    chunkReaderQueue()->async([path = fileURL->path(), offset, length, response = std::move(response)] {
      const auto file = ZTKUploadFileHandle::fileHandleForReadingAtPath(path);
      if (!file) {
        response(std::nullopt, NSError("NSPOSIXErrorDomain", errno, {{"NSFilePath", path}}));
        return;
      }
      auto bytes = readRange(file->fileDescriptor(), offset, length);
      bytes ? response(std::move(*bytes), std::nullopt) : response(std::nullopt, bytes.error());
    });
  } else if (handle) {
    chunkReaderQueue()->async([handle, offset, length, response = std::move(response)] {
      auto bytes = readRange(handle->fileDescriptor(), offset, length);
      bytes ? response(std::move(*bytes), std::nullopt) : response(std::nullopt, bytes.error());
    });
  } else {
    response(std::nullopt, std::nullopt);
  }
}

void ZSDK_ZTKSessionUploadFetcher::chunkBodyGenerated(const std::shared_ptr<ZSDK_ZTKSessionFetcher>& chunk,
                                                      std::int64_t offset, ZTKUploadChunkBody body) {
  bool paused = false;
  {
    Lock lock(uploadMutex_);
    isSubdataGenerating_ = false;
    paused = isPaused_;
  }
  // A pause (or stop) while the bytes were read: the chunk is not sent; a resume asks for the offset.
  if (paused || userStoppedFetching()) {
    std::error_code ec;
    if (body.file) fs::remove(*body.file, ec);
    return;
  }
  if (body.file) {
    chunk->setBodyFileURL(URL::fileURLWithPath(*body.file));
  } else if (body.data) {
    chunk->setBodyData(std::move(body.data));
  } else {
    invokeFinalCallbackWithData(std::nullopt, body.error ? *body.error : chunkUnavailable("chunkData is nil"), true);
    return;
  }
  beginChunkFetcher(chunk, offset);
}

void ZSDK_ZTKSessionUploadFetcher::beginChunkFetcher(const std::shared_ptr<ZSDK_ZTKSessionFetcher>& chunk,
                                                     std::int64_t offset) {
  {
    Lock lock(uploadMutex_);
    currentOffset_ = offset;
    chunkFetcher_ = chunk;
  }
  setFetcherInFlight(chunk);
  auto upload = self();
  chunk->beginFetchWithDelegate(upload, [upload](const std::shared_ptr<ZSDK_ZTKSessionFetcher>& finished,
                                                 std::optional<Data> data, std::optional<NSError> error) {
    upload->chunkFetcherFinished(finished, std::move(data), std::move(error));
  });
}

void ZSDK_ZTKSessionUploadFetcher::chunkFetcherFinished(const std::shared_ptr<ZSDK_ZTKSessionFetcher>& chunk,
                                                        std::optional<Data> data, std::optional<NSError> error) {
  if (!chunk) return;
  setFetcherInFlight(nullptr);
  const bool isFinal = header(chunk->responseHeaders(), kStatusHeader) == std::optional<std::string>("final");
  const auto request = chunk->mutableRequest();
  const std::int64_t chunkOffset = int64Value(request->valueForHTTPHeaderField(kOffsetHeader).value_or(""));
  bool queryWanted = false;
  {
    Lock lock(uploadMutex_);
    queryWanted = std::exchange(shouldInitiateOffsetQuery_, false);
  }
  if (error) {
    const bool clientError = error->domain == kZTKSessionFetcherStatusDomain && error->code >= 400 &&
                             error->code <= 499 && error->code != 404 && !isFinal;
    if (queryWanted || clientError) {
      const auto properties = chunk->properties();
      destroyChunkFetcher();
      scheduleOffsetQuery(chunkOffset, properties, *error);
    } else {
      invokeFinalCallbackWithData(std::move(data), std::move(error), false);
      destroyChunkFetcher();
    }
    return;
  }
  if (isFinal) {
    {
      Lock lock(uploadMutex_);
      finalData_ = data;
      statusCode_ = chunk->statusCode();
    }
    invokeFinalCallbackWithData(std::move(data), std::nullopt, true);
    destroyChunkFetcher();
    return;
  }
  const std::int64_t newOffset =
      chunkOffset + int64Value(request->valueForHTTPHeaderField("Content-Length").value_or(""));
  {
    Lock lock(uploadMutex_);
    currentOffset_ = newOffset;
    failuresInARow_ = 0;
  }
  const auto properties = chunk->properties();
  destroyChunkFetcher();
  uploadNextChunkWithOffset(newOffset, properties);
}

// Every chunk fetcher starts with fresh retry limits, so the upload keeps its own: the query
// waits like a retry would, and failing without progress ends the upload.
void ZSDK_ZTKSessionUploadFetcher::scheduleOffsetQuery(std::int64_t failedOffset, const Properties& properties,
                                                       const NSError& error) {
  const Date now = Date::now();
  const double factor = retryFactor() > 0 ? retryFactor() : 2.0;
  const TimeInterval maxInterval = maxRetryInterval() > 0 ? maxRetryInterval() : 600.0;
  std::optional<TimeInterval> delay;
  {
    Lock lock(uploadMutex_);
    if (failureOffset_ != failedOffset || failuresInARow_ == 0) {
      failureOffset_ = failedOffset;
      failuresInARow_ = 0;
      firstFailureDate_ = now;
    }
    ++failuresInARow_;
    delay = uploadQueryDelay(failuresInARow_, now.timeIntervalSinceDate(firstFailureDate_), minRetryInterval(), factor,
                             maxInterval);
  }
  if (!delay) {
    invokeFinalCallbackWithData(std::nullopt, error, false);
    return;
  }
  auto upload = self();
  auto timer = RunLoop::main().scheduledTimer(*delay, false, [upload, properties](Timer&) {
    bool paused = false;
    {
      Lock lock(upload->uploadMutex_);
      upload->queryDelayTimer_.reset();
      paused = upload->isPaused_;
    }
    if (!paused) upload->sendQueryForUploadOffsetWithFetcherProperties(properties);
  });
  Lock lock(uploadMutex_);
  queryDelayTimer_ = std::move(timer);
}

std::shared_ptr<ZSDK_ZTKSessionFetcher> ZSDK_ZTKSessionUploadFetcher::commandFetcher(const Properties& properties,
                                                                                    const char* command,
                                                                                    std::string_view what) {
  auto fetcher = uploadFetcherWithProperties(properties, true);
  fetcher->setComment(fmt::format("{} ({})", uploadComment(), what));
  fetcher->mutableRequest()->setValue(command, kCommandHeader);
  fetcher->setBodyData(Data());
  setFetcherInFlight(fetcher);
  return fetcher;
}

void ZSDK_ZTKSessionUploadFetcher::sendQueryForUploadOffsetWithFetcherProperties(const Properties& properties) {
  auto query = commandFetcher(properties, "query", "query offset");
  std::weak_ptr<ZSDK_ZTKSessionFetcher> weakQuery = query;
  auto upload = self();
  query->beginFetchWithCompletionHandler([upload, weakQuery](std::optional<Data> data, std::optional<NSError> error) {
    upload->queryFetcherFinished(weakQuery.lock(), std::move(data), std::move(error));
  });
}

void ZSDK_ZTKSessionUploadFetcher::queryFetcherFinished(const std::shared_ptr<ZSDK_ZTKSessionFetcher>& query,
                                                        std::optional<Data> data, std::optional<NSError> error) {
  setFetcherInFlight(nullptr);
  // A failed query ends the upload: answering it with another query could go on for ever.
  if (error || !query) {
    invokeFinalCallbackWithData(std::move(data), error, false);
    return;
  }
  const auto headers = query->responseHeaders();
  const auto received = header(headers, kSizeReceivedHeader);
  const std::int64_t size = received ? int64Value(*received) : -1;
  const bool isFinal = header(headers, kStatusHeader) == std::optional<std::string>("final");
  // A final answer that holds every byte is an upload whose last chunk's answer was lost.
  if (!received || (isFinal && size != fullUploadLength())) {
    invokeFinalCallbackWithData(data, statusError501(data), false);
    return;
  }
  if (size < fullUploadLength()) {
    retrieveUploadChunkGranularityFromResponseHeaders(headers);
    uploadNextChunkWithOffset(size, query->properties());
    return;
  }
  {
    Lock lock(uploadMutex_);
    finalData_ = data;
    statusCode_ = query->statusCode();
  }
  invokeFinalCallbackWithData(std::move(data), std::nullopt, true);
}

void ZSDK_ZTKSessionUploadFetcher::sendCancelUploadWithFetcherProperties(const Properties& properties) {
  auto cancel = commandFetcher(properties, "cancel", "cancel");
  std::weak_ptr<Upload> weak = self();
  std::weak_ptr<ZSDK_ZTKSessionFetcher> weakCancel = cancel;
  cancel->beginFetchWithCompletionHandler([weak, weakCancel](std::optional<Data>, std::optional<NSError>) {
    auto upload = weak.lock();
    if (!upload) return;
    Lock lock(upload->uploadMutex_);
    if (upload->fetcherInFlight_ && upload->fetcherInFlight_ == weakCancel.lock()) upload->fetcherInFlight_.reset();
  });
}

std::shared_ptr<ZSDK_ZTKSessionFetcher> ZSDK_ZTKSessionUploadFetcher::uploadFetcherWithProperties(
    const Properties& properties, bool isQueryFetch) {
  URLRequest chunkRequest;
  std::optional<URL> fileURL;
  bool background = false;
  {
    Lock lock(uploadMutex_);
    chunkRequest.url = uploadLocationURL_;
    fileURL = uploadFileURL_;
    background = useBackgroundSessionOnChunkFetchers_;
  }
  chunkRequest.httpMethod = "PUT";
  if (auto own = mutableRequest()) {
    const auto agent = own->valueForHTTPHeaderField("User-Agent");
    if (agent && !agent->empty()) chunkRequest.setValue(agent, "User-Agent");
    chunkRequest.timeoutInterval = own->timeoutInterval;
  }
  auto chunk = ZSDK_ZTKSessionFetcher::fetcherWithRequest(std::move(chunkRequest));
  chunk->setCallbackQueue(callbackQueue());
  chunk->setConfigurationBlock(configurationBlock());
  chunk->setAllowedInsecureSchemes(allowedInsecureSchemes());
  chunk->setAllowLocalhostRequest(allowLocalhostRequest());
  chunk->setAllowInvalidServerCertificates(allowInvalidServerCertificates());
  chunk->setUseUploadTask(!isQueryFetch);
  auto userInfo = sessionUserInfo();
  if (!isQueryFetch && fileURL && background) {
    // The session identifier is made from the user info: the metadata rides in it.
    Value::Dictionary metadata = userInfo.value_or(Value::Dictionary());
    const std::int64_t fullLength = fullUploadLength();
    Lock lock(uploadMutex_);
    metadata["_upChunk"] = true;
    metadata["_upFileURL"] = fileURL->absoluteString();
    metadata["_upFileLen"] = static_cast<long long>(fullLength);
    if (uploadLocationURL_) metadata["_upLocURL"] = uploadLocationURL_->absoluteString();
    if (!uploadMIMEType_.empty()) metadata["_uploadMIME"] = uploadMIMEType_;
    metadata["_upChSize"] = static_cast<long long>(chunkSize_);
    metadata["_upOffset"] = static_cast<long long>(currentOffset_);
    userInfo = std::move(metadata);
    chunk->setUseBackgroundSession(true);
  }
  chunk->setSessionUserInfo(std::move(userInfo));
  Properties chunkProperties = properties;
  chunkProperties[kChunkParentKey] = std::weak_ptr<Upload>(self());
  chunk->setProperties(std::move(chunkProperties));

  const bool retry = isRetryEnabled();
  chunk->setRetryEnabled(retry);
  chunk->setMaxRetryInterval(maxRetryInterval());
  if (retry) {
    std::weak_ptr<Upload> weak = self();
    chunk->setRetryBlock([weak](bool suggestedWillRetry, std::optional<NSError> error, RetryResponse response) {
      auto upload = weak.lock();
      if (!upload) {
        response(false);
        return;
      }
      // The chunk itself never retries: the failure reaches the upload, which asks for the offset.
      auto decide = [weak, response](bool shouldRetry) {
        if (auto target = weak.lock(); target && shouldRetry) {
          Lock lock(target->uploadMutex_);
          target->shouldInitiateOffsetQuery_ = true;
          target->currentOffset_ = 0;
        }
        response(false);
      };
      if (auto own = upload->retryBlock()) {
        own(suggestedWillRetry, std::move(error), decide);
      } else {
        decide(suggestedWillRetry);
      }
    });
  }
  Lock lock(uploadMutex_);
  lastChunkRequest_ = chunk->mutableRequest();
  return chunk;
}

// ---------------------------------------------------------------------------------------------
// Progress

void ZSDK_ZTKSessionUploadFetcher::attachProgressBlock(const std::shared_ptr<ZSDK_ZTKSessionFetcher>& chunk) {
  std::weak_ptr<Upload> weak = self();
  chunk->setSendProgressBlock([weak](std::int64_t bytesSent, std::int64_t totalBytesSent, std::int64_t) {
    auto upload = weak.lock();
    if (!upload) return;
    const std::int64_t own = std::max<std::int64_t>(upload->bodyLength(), 0);
    upload->invokeDelegateWithDidSendBytes(bytesSent, own + upload->currentOffset() + totalBytesSent,
                                           upload->fullUploadLength() + own);
  });
}

void ZSDK_ZTKSessionUploadFetcher::didSendBodyData(const std::shared_ptr<URLSession>&,
                                                   const std::shared_ptr<URLSessionTask>&, std::int64_t bytesSent,
                                                   std::int64_t totalBytesSent, std::int64_t totalBytesExpectedToSend) {
  invokeDelegateWithDidSendBytes(bytesSent, totalBytesSent, totalBytesExpectedToSend + fullUploadLength());
}

void ZSDK_ZTKSessionUploadFetcher::invokeDelegateWithDidSendBytes(std::int64_t bytesSent, std::int64_t totalBytesSent,
                                                                  std::int64_t totalBytesExpectedToSend) {
  const auto progress = sendProgressBlock();
  if (!progress) return;
  // The chunk fetcher stays alive until the report ran.
  auto chunk = chunkFetcher();
  invokeOnCallbackQueueUnlessStopped([progress, chunk, bytesSent, totalBytesSent, totalBytesExpectedToSend] {
    progress(bytesSent, totalBytesSent, totalBytesExpectedToSend);
  });
}
