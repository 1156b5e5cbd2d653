#include "toolkit/session_upload_fetcher.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>

#include "platform/foundation/ascii.h"
#include "toolkit/session_fetcher_internal.h"
#include "toolkit/session_fetcher_service.h"
#include "toolkit/session_upload_fetcher_internal.h"

using namespace ztk_fetcher_detail;
using namespace ztk_upload_detail;
namespace fs = std::filesystem;

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
