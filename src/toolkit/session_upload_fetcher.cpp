#include "toolkit/session_upload_fetcher.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <thread>
#include <tl/expected.hpp>

#include "platform/foundation/ascii.h"
#include "platform/foundation/notification_center.h"
#include "toolkit/session_fetcher_internal.h"
#include "toolkit/session_fetcher_service.h"

using namespace ztk_fetcher_detail;
namespace fs = std::filesystem;

namespace {

constexpr const char* kProtocolHeader = "X-Zedodo-Upload-Protocol";
constexpr const char* kCommandHeader = "X-Zedodo-Upload-Command";
constexpr const char* kContentTypeHeader = "X-Zedodo-Upload-Content-Type";
constexpr const char* kContentLengthHeader = "X-Zedodo-Upload-Content-Length";
constexpr const char* kOffsetHeader = "X-Zedodo-Upload-Offset";
constexpr const char* kURLHeader = "X-Zedodo-Upload-URL";
constexpr const char* kStatusHeader = "X-Zedodo-Upload-Status";
constexpr const char* kSizeReceivedHeader = "X-Zedodo-Upload-Size-Received";
constexpr const char* kGranularityHeader = "X-Zedodo-Upload-Chunk-Granularity";
constexpr const char* kChunkParentKey = "_uploadFetcherChunkParent";

using Upload = ZSDK_ZTKSessionUploadFetcher;

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

struct BackgroundUploads {
  std::mutex mutex;
  std::vector<std::weak_ptr<Upload>> fetchers;
};

BackgroundUploads& backgroundUploads() {
  static auto* list = new BackgroundUploads();
  return *list;
}

std::optional<std::int64_t> integerIn(const Value::Dictionary& metadata, const char* key) {
  const auto found = metadata.find(key);
  if (found == metadata.end()) return std::nullopt;
  if (auto i = found->second.asInteger()) return *i;
  if (auto r = found->second.asReal()) return static_cast<std::int64_t>(*r);
  return std::nullopt;
}

std::optional<std::string> stringIn(const Value::Dictionary& metadata, const char* key) {
  const auto found = metadata.find(key);
  if (found == metadata.end() || !found->second.asString()) return std::nullopt;
  return *found->second.asString();
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

}  // namespace

// ---------------------------------------------------------------------------------------------
// Decisions

ZTKUploadChunkPlan planUploadChunk(std::int64_t chunkSize, std::int64_t offset, std::int64_t fullLength,
                                   std::int64_t granularity, bool isFileURLSource) {
  std::int64_t size = chunkSize;
  const bool coversWholeFile = isFileURLSource && chunkSize >= fullLength && offset == 0;
  if (!coversWholeFile) size = std::min(size, kZTKUploadChunkSizeCap);
  if (granularity >= 1) {
    size = size >= granularity ? size / granularity * granularity : granularity;
    offset = offset / granularity * granularity;
  }
  const std::int64_t remaining = fullLength - offset;
  if (size < remaining && size <= remaining - kZTKUploadMinimumTail) return {offset, size, "upload"};
  return {offset, remaining, remaining >= 1 ? "upload, finalize" : "finalize"};
}

std::optional<TimeInterval> uploadQueryDelay(int failuresInARow, TimeInterval sinceFirstFailure,
                                             TimeInterval minInterval, double factor, TimeInterval maxInterval) {
  if (failuresInARow >= 10 || sinceFirstFailure >= 3 * maxInterval) return std::nullopt;
  const double grown = minInterval * std::pow(factor, std::max(failuresInARow - 1, 0));
  return std::min(grown, maxInterval);
}

// ---------------------------------------------------------------------------------------------
// File handle

std::shared_ptr<ZTKUploadFileHandle> ZTKUploadFileHandle::fileHandleForReadingAtPath(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  return fd < 0 ? nullptr : std::make_shared<ZTKUploadFileHandle>(fd);
}

ZTKUploadFileHandle::~ZTKUploadFileHandle() {
  if (fd_ >= 0) ::close(fd_);
}

std::int64_t ZTKUploadFileHandle::seekToEndOfFile() const {
  struct stat info {};
  return ::fstat(fd_, &info) == 0 ? static_cast<std::int64_t>(info.st_size) : -1;
}

// ---------------------------------------------------------------------------------------------
// Creation

ZSDK_ZTKSessionUploadFetcher::ZSDK_ZTKSessionUploadFetcher(std::optional<URLRequest> request,
                                                           std::optional<URLSessionConfiguration> configuration)
    : ZSDK_ZTKSessionFetcher(std::move(request), std::move(configuration)) {}

std::shared_ptr<Upload> ZSDK_ZTKSessionUploadFetcher::self() {
  return std::static_pointer_cast<Upload>(shared_from_this());
}

std::shared_ptr<Upload> ZSDK_ZTKSessionUploadFetcher::uploadFetcherWithRequest(URLRequest request,
                                                                               std::string uploadMIMEType,
                                                                               std::int64_t chunkSize,
                                                                               Service fetcherService) {
  auto fetcher = uploadFetcherWithRequest(std::optional<URLRequest>(std::move(request)), std::move(fetcherService));
  fetcher->setLocationURL(std::nullopt, std::move(uploadMIMEType), chunkSize);
  return fetcher;
}

std::shared_ptr<Upload> ZSDK_ZTKSessionUploadFetcher::uploadFetcherWithLocation(std::optional<URL> uploadLocationURL,
                                                                                std::string uploadMIMEType,
                                                                                std::int64_t chunkSize,
                                                                                Service fetcherService) {
  auto fetcher = uploadFetcherWithRequest(std::optional<URLRequest>(), std::move(fetcherService));
  fetcher->setLocationURL(std::move(uploadLocationURL), std::move(uploadMIMEType), chunkSize);
  return fetcher;
}

std::shared_ptr<Upload> ZSDK_ZTKSessionUploadFetcher::uploadFetcherWithRequest(std::optional<URLRequest> request,
                                                                               Service fetcherService) {
  std::shared_ptr<Upload> fetcher;
  if (fetcherService && request) {
    fetcher = std::static_pointer_cast<Upload>(fetcherService->fetcherWithRequest(
        *request, [](std::optional<URLRequest> r, std::optional<URLSessionConfiguration> c) {
          return std::make_shared<Upload>(std::move(r), std::move(c));
        }));
  } else {
    fetcher = std::make_shared<Upload>(std::move(request));
  }
  fetcher->setUseBackgroundSession(true);
  return fetcher;
}

void ZSDK_ZTKSessionUploadFetcher::setLocationURL(std::optional<URL> location, std::string uploadMIMEType,
                                                  std::int64_t chunkSize) {
  Lock lock(uploadMutex_);
  isRestartedUpload_ = location.has_value();
  uploadLocationURL_ = std::move(location);
  uploadMIMEType_ = std::move(uploadMIMEType);
  chunkSize_ = chunkSize;
  uploadFileLength_ = -1;
  statusCode_ = -1;
}

std::optional<URL> ZSDK_ZTKSessionUploadFetcher::uploadLocationURL() const {
  Lock lock(uploadMutex_);
  return uploadLocationURL_;
}

// ---------------------------------------------------------------------------------------------
// Body sources and length

template <class T>
void ZSDK_ZTKSessionUploadFetcher::replaceSource(T& field, T value) {
  {
    Lock lock(uploadMutex_);
    if (value == field) return;
    field = std::move(value);
  }
  setupRequestHeaders();
}

std::optional<Data> ZSDK_ZTKSessionUploadFetcher::uploadData() const {
  Lock lock(uploadMutex_);
  return uploadData_;
}

void ZSDK_ZTKSessionUploadFetcher::setUploadData(std::optional<Data> data) {
  replaceSource(uploadData_, std::move(data));
}

std::shared_ptr<ZTKUploadFileHandle> ZSDK_ZTKSessionUploadFetcher::uploadFileHandle() const {
  Lock lock(uploadMutex_);
  return uploadFileHandle_;
}

void ZSDK_ZTKSessionUploadFetcher::setUploadFileHandle(std::shared_ptr<ZTKUploadFileHandle> handle) {
  replaceSource(uploadFileHandle_, std::move(handle));
}

std::optional<URL> ZSDK_ZTKSessionUploadFetcher::uploadFileURL() const {
  Lock lock(uploadMutex_);
  return uploadFileURL_;
}

void ZSDK_ZTKSessionUploadFetcher::setUploadFileURL(std::optional<URL> url) {
  replaceSource(uploadFileURL_, std::move(url));
}

Upload::DataProvider ZSDK_ZTKSessionUploadFetcher::uploadDataProvider() const {
  Lock lock(uploadMutex_);
  return uploadDataProvider_;
}

void ZSDK_ZTKSessionUploadFetcher::setUploadDataLength(std::int64_t length, DataProvider provider) {
  {
    Lock lock(uploadMutex_);
    uploadDataProvider_ = std::move(provider);
    uploadFileLength_ = length;
  }
  setupRequestHeaders();
}

void ZSDK_ZTKSessionUploadFetcher::setUploadFileLength(std::int64_t length) {
  Lock lock(uploadMutex_);
  uploadFileLength_ = length;
}

void ZSDK_ZTKSessionUploadFetcher::setupRequestHeaders() {
  auto request = mutableRequest();
  if (!request) return;
  const std::int64_t length = fullUploadLength();
  request->setValue("resumable", kProtocolHeader);
  request->setValue("start", kCommandHeader);
  request->setValue(uploadMIMEType(), kContentTypeHeader);
  request->setValue(std::to_string(length), kContentLengthHeader);
  if (request->httpMethod.empty() || asciiEqualIgnoringCase(request->httpMethod, "GET")) request->httpMethod = "POST";
}

std::int64_t ZSDK_ZTKSessionUploadFetcher::fullUploadLength() {
  Lock lock(uploadMutex_);
  if (uploadData_) return static_cast<std::int64_t>(uploadData_->size());
  if (uploadFileLength_ != -1) return uploadFileLength_;
  if (uploadFileHandle_) {
    uploadFileLength_ = uploadFileHandle_->seekToEndOfFile();
  } else if (!uploadDataProvider_ && uploadFileURL_) {
    std::error_code ec;
    const auto size = fs::file_size(uploadFileURL_->path(), ec);
    if (!ec) uploadFileLength_ = static_cast<std::int64_t>(size);
  }
  return uploadFileLength_;
}

// ---------------------------------------------------------------------------------------------
// Plain properties

std::string ZSDK_ZTKSessionUploadFetcher::uploadMIMEType() const {
  Lock lock(uploadMutex_);
  return uploadMIMEType_;
}
std::int64_t ZSDK_ZTKSessionUploadFetcher::chunkSize() const {
  Lock lock(uploadMutex_);
  return chunkSize_;
}
void ZSDK_ZTKSessionUploadFetcher::setChunkSize(std::int64_t size) {
  Lock lock(uploadMutex_);
  chunkSize_ = size;
}
std::int64_t ZSDK_ZTKSessionUploadFetcher::currentOffset() const {
  Lock lock(uploadMutex_);
  return currentOffset_;
}
std::shared_ptr<ZSDK_ZTKSessionFetcher> ZSDK_ZTKSessionUploadFetcher::chunkFetcher() const {
  Lock lock(uploadMutex_);
  return chunkFetcher_;
}
std::shared_ptr<URLRequest> ZSDK_ZTKSessionUploadFetcher::lastChunkRequest() const {
  Lock lock(uploadMutex_);
  return lastChunkRequest_;
}
Upload::CompletionHandler ZSDK_ZTKSessionUploadFetcher::delegateCompletionHandler() const {
  Lock lock(uploadMutex_);
  return delegateCompletionHandler_;
}
void ZSDK_ZTKSessionUploadFetcher::setCompletionHandler(CompletionHandler handler) {
  Lock lock(uploadMutex_);
  delegateCompletionHandler_ = std::move(handler);
}
bool ZSDK_ZTKSessionUploadFetcher::isPaused() const {
  Lock lock(uploadMutex_);
  return isPaused_;
}
std::shared_ptr<Timer> ZSDK_ZTKSessionUploadFetcher::retryTimer() const {
  Lock lock(uploadMutex_);
  return queryDelayTimer_;
}

void ZSDK_ZTKSessionUploadFetcher::setFetcherInFlight(std::shared_ptr<ZSDK_ZTKSessionFetcher> fetcher) {
  Lock lock(uploadMutex_);
  selfInFlight_ = fetcher.get() == this;
  fetcherInFlight_ = selfInFlight_ ? nullptr : std::move(fetcher);
}

std::shared_ptr<ZSDK_ZTKSessionFetcher> ZSDK_ZTKSessionUploadFetcher::fetcherInFlight() const {
  Lock lock(uploadMutex_);
  if (selfInFlight_) return std::const_pointer_cast<ZSDK_ZTKSessionFetcher>(shared_from_this());
  return fetcherInFlight_;
}

std::shared_ptr<ZSDK_ZTKSessionFetcher> ZSDK_ZTKSessionUploadFetcher::activeFetcher() {
  auto inFlight = fetcherInFlight();
  return inFlight ? inFlight : shared_from_this();
}

std::optional<HTTPHeaderFields> ZSDK_ZTKSessionUploadFetcher::responseHeaders() const {
  std::shared_ptr<ZSDK_ZTKSessionFetcher> chunk;
  {
    Lock lock(uploadMutex_);
    chunk = chunkFetcher_;
    if (!chunk && responseHeaders_) return responseHeaders_;
  }
  if (chunk) return chunk->responseHeaders();
  return ZSDK_ZTKSessionFetcher::responseHeaders();
}

int ZSDK_ZTKSessionUploadFetcher::statusCode() const {
  {
    Lock lock(uploadMutex_);
    if (statusCode_ != -1) return statusCode_;
  }
  return ZSDK_ZTKSessionFetcher::statusCode();
}

std::optional<Data> ZSDK_ZTKSessionUploadFetcher::downloadedData() const {
  {
    Lock lock(uploadMutex_);
    if (finalData_) return finalData_;
  }
  return ZSDK_ZTKSessionFetcher::downloadedData();
}

bool ZSDK_ZTKSessionUploadFetcher::useBackgroundSession() const {
  Lock lock(uploadMutex_);
  return useBackgroundSessionOnChunkFetchers_;
}

void ZSDK_ZTKSessionUploadFetcher::setUseBackgroundSession(bool flag) {
  {
    Lock lock(uploadMutex_);
    if (flag == useBackgroundSessionOnChunkFetchers_) return;
    useBackgroundSessionOnChunkFetchers_ = flag;
  }
  auto& list = backgroundUploads();
  std::lock_guard lock(list.mutex);
  std::erase_if(list.fetchers, [this](const auto& weak) {
    auto live = weak.lock();
    return !live || live.get() == this;
  });
  if (flag) list.fetchers.push_back(self());
}

std::string ZSDK_ZTKSessionUploadFetcher::uploadComment() const {
  const auto text = comment();
  return text && !text->empty() ? *text : "upload";
}

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
  uploadGranularity_ = value ? leadingIntegerValue(*value) : 0;
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
  generateChunkSubdataWithOffset(
      plan.offset, plan.length,
      [upload, chunk, offset = plan.offset](std::optional<Data> data, std::optional<NSError> error) {
        DispatchQueue::main()->async(
            [upload, chunk, offset, data = std::move(data), error = std::move(error)]() mutable {
              upload->chunkBytesGenerated(chunk, offset, std::move(data), std::move(error));
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

void ZSDK_ZTKSessionUploadFetcher::chunkBytesGenerated(const std::shared_ptr<ZSDK_ZTKSessionFetcher>& chunk,
                                                       std::int64_t offset, std::optional<Data> data,
                                                       std::optional<NSError> error) {
  std::optional<URL> fileURL;
  bool paused = false;
  {
    Lock lock(uploadMutex_);
    isSubdataGenerating_ = false;
    fileURL = uploadFileURL_;
    paused = isPaused_;
  }
  // A pause (or stop) while the bytes were read: the chunk is not sent; a resume asks for the offset.
  if (paused || userStoppedFetching()) return;
  if (!data) {
    invokeFinalCallbackWithData(std::nullopt, error ? *error : chunkUnavailable("chunkData is nil"), true);
    return;
  }
  if (fileURL && !uploadDataProvider() && !uploadData()) {
    const std::string path = (fs::temp_directory_path() / ("ZTKUpload_temp_" + makeUUIDString())).string();
    if (writeAtomically(path, *data)) {
      chunk->setBodyFileURL(URL::fileURLWithPath(path));
    } else {
      chunk->setBodyData(std::move(data));
    }
  } else {
    chunk->setBodyData(std::move(data));
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
  const std::int64_t chunkOffset = leadingIntegerValue(request->valueForHTTPHeaderField(kOffsetHeader).value_or(""));
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
      chunkOffset + leadingIntegerValue(request->valueForHTTPHeaderField("Content-Length").value_or(""));
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

void ZSDK_ZTKSessionUploadFetcher::sendQueryForUploadOffsetWithFetcherProperties(const Properties& properties) {
  auto query = uploadFetcherWithProperties(properties, true);
  query->setComment(fmt::format("{} (query offset)", uploadComment()));
  query->mutableRequest()->setValue("query", kCommandHeader);
  query->setBodyData(Data());
  setFetcherInFlight(query);
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
  if (header(headers, kStatusHeader) == std::optional<std::string>("final") || !received) {
    invokeFinalCallbackWithData(data, statusError501(data), false);
    return;
  }
  const std::int64_t size = leadingIntegerValue(*received);
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
  auto cancel = uploadFetcherWithProperties(properties, true);
  cancel->setComment(fmt::format("{} (cancel)", uploadComment()));
  cancel->mutableRequest()->setValue("cancel", kCommandHeader);
  cancel->setBodyData(Data());
  setFetcherInFlight(cancel);
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
  {
    Lock lock(uploadMutex_);
    handler = std::exchange(delegateCompletionHandler_, nullptr);
    provider = std::exchange(uploadDataProvider_, nullptr);
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

// ---------------------------------------------------------------------------------------------
// Background sessions

std::shared_ptr<Upload> ZSDK_ZTKSessionUploadFetcher::uploadFetcherForSessionIdentifierMetadata(
    const Value::Dictionary& metadata) {
  const auto fileLength = integerIn(metadata, "_upFileLen");
  const auto fileURLText = stringIn(metadata, "_upFileURL");
  const std::int64_t offset = integerIn(metadata, "_upOffset").value_or(0);
  if (!fileLength || !fileURLText || offset > *fileLength) return nullptr;
  const auto locationText = stringIn(metadata, "_upLocURL");
  const auto location = locationText ? URL::URLWithString(*locationText) : std::nullopt;
  std::int64_t chunkSize = integerIn(metadata, "_upChSize").value_or(0);
  if (chunkSize < 1) chunkSize = std::numeric_limits<std::int64_t>::max();
  auto fetcher =
      uploadFetcherWithLocation(location, stringIn(metadata, "_uploadMIME").value_or(""), chunkSize, nullptr);
  fetcher->setUploadFileLength(*fileLength);
  fetcher->setUploadFileURL(URL::URLWithString(*fileURLText));
  fetcher->setSessionUserInfo(metadata);
  fetcher->setUseBackgroundSession(true);
  {
    Lock lock(fetcher->uploadMutex_);
    fetcher->currentOffset_ = offset;
  }
  // Plain http only where the upload already went over it.
  const bool insecure = location && asciiEqualIgnoringCase(location->scheme().value_or(""), "http");
  fetcher->setAllowedInsecureSchemes(insecure ? std::vector<std::string>{"http"} : std::vector<std::string>{});
  return fetcher;
}

std::vector<std::shared_ptr<Upload>> ZSDK_ZTKSessionUploadFetcher::uploadFetchersForBackgroundSessions() {
  std::vector<std::shared_ptr<Upload>> result;
  std::vector<std::string> identifiers;
  {
    auto& list = backgroundUploads();
    std::lock_guard lock(list.mutex);
    std::erase_if(list.fetchers, [](const auto& weak) { return weak.expired(); });
    for (const auto& weak : list.fetchers) {
      auto upload = weak.lock();
      const auto chunk = upload ? upload->chunkFetcher() : nullptr;
      const auto identifier = chunk ? chunk->sessionIdentifier() : std::nullopt;
      if (!identifier) continue;
      identifiers.push_back(*identifier);
      result.push_back(upload);
    }
  }
  for (const auto& fetcher : ZSDK_ZTKSessionFetcher::fetchersForBackgroundSessions()) {
    const auto identifier = fetcher->sessionIdentifier();
    if (!identifier || std::find(identifiers.begin(), identifiers.end(), *identifier) != identifiers.end()) continue;
    const auto metadata = fetcher->sessionIdentifierMetadata();
    const auto marked = metadata ? metadata->find("_upChunk") : Value::Dictionary::const_iterator();
    if (!metadata || marked == metadata->end() || !marked->second.asBool().value_or(false)) continue;
    auto upload = uploadFetcherForSessionIdentifierMetadata(*metadata);
    if (!upload) {
      fetcher->stopFetching();
      continue;
    }
    {
      Lock lock(upload->uploadMutex_);
      upload->chunkFetcher_ = fetcher;
    }
    upload->setFetcherInFlight(fetcher);
    upload->attachProgressBlock(fetcher);
    fetcher->setCompletionHandler(
        fetcher->completionHandlerWithTarget(upload, [upload](const std::shared_ptr<ZSDK_ZTKSessionFetcher>& finished,
                                                              std::optional<Data> data, std::optional<NSError> error) {
          upload->chunkFetcherFinished(finished, std::move(data), std::move(error));
        }));
    result.push_back(upload);
  }
  return result;
}

std::shared_ptr<Upload> ZSDK_ZTKSessionUploadFetcher::uploadFetcherForSessionIdentifier(const std::string& identifier) {
  for (const auto& upload : uploadFetchersForBackgroundSessions()) {
    const auto chunk = upload->chunkFetcher();
    if (chunk && chunk->sessionIdentifier() == std::optional<std::string>(identifier)) return upload;
  }
  return nullptr;
}

std::shared_ptr<Upload> parentUploadFetcher(const ZSDK_ZTKSessionFetcher& fetcher) {
  const std::any parent = fetcher.propertyForKey(kChunkParentKey);
  const auto* weak = std::any_cast<std::weak_ptr<Upload>>(&parent);
  return weak ? weak->lock() : nullptr;
}
