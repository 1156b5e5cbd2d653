#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "toolkit/session_fetcher.h"

class ZSDK_ZTKSessionFetcherService;

inline constexpr const char* kZTKSessionFetcherUploadLocationObtainedNotification =
    "kZTKSessionFetcherUploadLocationObtainedNotification";
inline constexpr std::int64_t kZTKUploadChunkSizeCap = 10485760;
inline constexpr std::int64_t kZTKUploadMinimumTail = 2500;

// An open file read by range. Owns its descriptor.
class ZTKUploadFileHandle {
 public:
  static std::shared_ptr<ZTKUploadFileHandle> fileHandleForReadingAtPath(const std::string& path);
  explicit ZTKUploadFileHandle(int fd) : fd_(fd) {}
  ~ZTKUploadFileHandle();
  ZTKUploadFileHandle(const ZTKUploadFileHandle&) = delete;
  ZTKUploadFileHandle& operator=(const ZTKUploadFileHandle&) = delete;
  // The file's size, or -1.
  std::int64_t seekToEndOfFile() const;
  int fileDescriptor() const { return fd_; }

 private:
  int fd_;
};

// One chunk of an upload: where it starts, how long it is and the command that sends it.
struct ZTKUploadChunkPlan {
  std::int64_t offset = 0;
  std::int64_t length = 0;
  std::string command;
  bool operator==(const ZTKUploadChunkPlan&) const = default;
};

struct ZTKUploadPreparedChunk;

// A chunk's body once produced: a file holding it, its bytes, or why there are none.
struct ZTKUploadChunkBody {
  std::optional<std::string> file{};
  std::optional<Data> data{};
  std::optional<NSError> error{};
};

// The chunk sent at `offset`: at most the cap (a file source may go past it when one chunk covers
// the whole file), aligned to the granularity, and stretched to the end rather than leaving a
// tail shorter than kZTKUploadMinimumTail.
ZTKUploadChunkPlan planUploadChunk(std::int64_t chunkSize, std::int64_t offset, std::int64_t fullLength,
                                   std::int64_t granularity, bool isFileURLSource);

// The wait before asking for the offset again after the `failuresInARow`-th retryable failure at
// one offset; nothing means give up (10 failures in a row, or 3 x the maximum interval since the
// first of them).
std::optional<TimeInterval> uploadQueryDelay(int failuresInARow, TimeInterval sinceFirstFailure,
                                             TimeInterval minInterval, double factor, TimeInterval maxInterval);

// Uploads a large body in chunks over the resumable protocol of the "X-Zedodo-Upload-" headers:
// the caller's request starts the upload, each chunk goes to the location the server gave in a
// PUT of its own fetcher, a failed chunk is followed by a query of the received size, and a stop
// cancels the upload on the server.
//
// Methods that the plain fetcher also has are hidden, not overridden: call them on this class.
class ZSDK_ZTKSessionUploadFetcher : public ZSDK_ZTKSessionFetcher {
 public:
  using DataProviderResponse = std::function<void(std::optional<Data> data, std::optional<NSError> error)>;
  using DataProvider = std::function<void(std::int64_t offset, std::int64_t length, DataProviderResponse response)>;
  using Service = std::shared_ptr<ZSDK_ZTKSessionFetcherService>;

  static std::shared_ptr<ZSDK_ZTKSessionUploadFetcher> uploadFetcherWithRequest(URLRequest request,
                                                                                std::string uploadMIMEType,
                                                                                std::int64_t chunkSize,
                                                                                Service fetcherService);
  static std::shared_ptr<ZSDK_ZTKSessionUploadFetcher> uploadFetcherWithLocation(std::optional<URL> uploadLocationURL,
                                                                                 std::string uploadMIMEType,
                                                                                 std::int64_t chunkSize,
                                                                                 Service fetcherService);
  static std::shared_ptr<ZSDK_ZTKSessionUploadFetcher> uploadFetcherWithRequest(std::optional<URLRequest> request,
                                                                                Service fetcherService);
  static std::shared_ptr<ZSDK_ZTKSessionUploadFetcher> uploadFetcherForSessionIdentifierMetadata(
      const Value::Dictionary& metadata);
  static std::vector<std::shared_ptr<ZSDK_ZTKSessionUploadFetcher>> uploadFetchersForBackgroundSessions();
  static std::shared_ptr<ZSDK_ZTKSessionUploadFetcher> uploadFetcherForSessionIdentifier(const std::string& identifier);

  explicit ZSDK_ZTKSessionUploadFetcher(std::optional<URLRequest> request = std::nullopt,
                                        std::optional<URLSessionConfiguration> configuration = std::nullopt);

  void setLocationURL(std::optional<URL> location, std::string uploadMIMEType, std::int64_t chunkSize);
  std::optional<URL> uploadLocationURL() const;

  // Body sources, consulted in the order provider, data, file URL, file handle.
  std::optional<Data> uploadData() const;
  void setUploadData(std::optional<Data> data);
  std::shared_ptr<ZTKUploadFileHandle> uploadFileHandle() const;
  void setUploadFileHandle(std::shared_ptr<ZTKUploadFileHandle> handle);
  std::optional<URL> uploadFileURL() const;
  void setUploadFileURL(std::optional<URL> url);
  DataProvider uploadDataProvider() const;
  void setUploadDataLength(std::int64_t length, DataProvider provider);

  void setupRequestHeaders();
  // -1 while unknown (a provider given no length).
  std::int64_t fullUploadLength();
  void setUploadFileLength(std::int64_t length);

  void beginFetchWithCompletionHandler(CompletionHandler handler);
  void setCompletionHandler(CompletionHandler handler);
  CompletionHandler delegateCompletionHandler() const;

  void pauseFetching();
  void resumeFetching();
  bool isPaused() const;
  void stopFetching();

  // Whether chunk fetchers run in background sessions.
  bool useBackgroundSession() const;
  void setUseBackgroundSession(bool flag);

  std::optional<HTTPHeaderFields> responseHeaders() const;
  int statusCode() const;
  std::optional<Data> downloadedData() const;
  // The request now running, or this fetcher when none is.
  std::shared_ptr<ZSDK_ZTKSessionFetcher> activeFetcher();
  // The wait before the next offset query, while one is pending.
  std::shared_ptr<Timer> retryTimer() const;
  bool waitForCompletionWithTimeout(TimeInterval timeoutInSeconds);

  std::string uploadMIMEType() const;
  std::int64_t chunkSize() const;
  void setChunkSize(std::int64_t size);
  std::int64_t currentOffset() const;
  std::shared_ptr<ZSDK_ZTKSessionFetcher> chunkFetcher() const;
  std::shared_ptr<URLRequest> lastChunkRequest() const;

  void didSendBodyData(const std::shared_ptr<URLSession>& session, const std::shared_ptr<URLSessionTask>& task,
                       std::int64_t bytesSent, std::int64_t totalBytesSent,
                       std::int64_t totalBytesExpectedToSend) override;

 protected:
  bool shouldReleaseCallbacksUponCompletion() override { return false; }

 private:
  using Mutex = std::recursive_mutex;
  using Lock = std::lock_guard<Mutex>;
  std::shared_ptr<ZSDK_ZTKSessionUploadFetcher> self();
  // Stores a changed body source and makes the start request's headers again.
  template <class T>
  void replaceSource(T& field, T value);

  void startRequestFinished(std::optional<Data> data, std::optional<NSError> error);
  void beginChunkFetches();
  void retrieveUploadChunkGranularityFromResponseHeaders(const std::optional<HTTPHeaderFields>& headers);
  void uploadNextChunkWithOffset(std::int64_t offset, const Properties& properties);
  void generateChunkSubdataWithOffset(std::int64_t offset, std::int64_t length, DataProviderResponse response);
  void chunkBodyGenerated(const std::shared_ptr<ZSDK_ZTKSessionFetcher>& chunk, std::int64_t offset,
                          ZTKUploadChunkBody body);
  void beginChunkFetcher(const std::shared_ptr<ZSDK_ZTKSessionFetcher>& chunk, std::int64_t offset);
  void chunkFetcherFinished(const std::shared_ptr<ZSDK_ZTKSessionFetcher>& chunk, std::optional<Data> data,
                            std::optional<NSError> error);
  void scheduleOffsetQuery(std::int64_t failedOffset, const Properties& properties, const NSError& error);
  void sendQueryForUploadOffsetWithFetcherProperties(const Properties& properties);
  void queryFetcherFinished(const std::shared_ptr<ZSDK_ZTKSessionFetcher>& query, std::optional<Data> data,
                            std::optional<NSError> error);
  void sendCancelUploadWithFetcherProperties(const Properties& properties);
  std::shared_ptr<ZSDK_ZTKSessionFetcher> uploadFetcherWithProperties(const Properties& properties, bool isQueryFetch);
  // A query or cancel fetcher with an empty body, made the request in flight.
  std::shared_ptr<ZSDK_ZTKSessionFetcher> commandFetcher(const Properties& properties, const char* command,
                                                         std::string_view what);
  void attachProgressBlock(const std::shared_ptr<ZSDK_ZTKSessionFetcher>& chunk);
  void invokeDelegateWithDidSendBytes(std::int64_t bytesSent, std::int64_t totalBytesSent,
                                      std::int64_t totalBytesExpectedToSend);
  void destroyChunkFetcher();
  void invokeFinalCallbackWithData(std::optional<Data> data, std::optional<NSError> error,
                                   bool shouldInvalidateLocation);
  void releaseUploadCallbacks();
  std::string uploadComment() const;
  void setFetcherInFlight(std::shared_ptr<ZSDK_ZTKSessionFetcher> fetcher);
  std::shared_ptr<ZSDK_ZTKSessionFetcher> fetcherInFlight() const;

  mutable Mutex uploadMutex_;
  std::shared_ptr<ZSDK_ZTKSessionFetcher> chunkFetcher_;
  CompletionHandler delegateCompletionHandler_;
  std::optional<URL> uploadLocationURL_;
  std::optional<Data> uploadData_;
  std::shared_ptr<ZTKUploadFileHandle> uploadFileHandle_;
  std::optional<URL> uploadFileURL_;
  DataProvider uploadDataProvider_;
  std::int64_t uploadFileLength_ = -1;
  std::string uploadMIMEType_;
  std::int64_t chunkSize_ = 0;
  std::int64_t uploadGranularity_ = 0;
  bool isPaused_ = false;
  bool isRestartedUpload_ = false;
  bool shouldInitiateOffsetQuery_ = false;
  bool useBackgroundSessionOnChunkFetchers_ = false;
  std::int64_t currentOffset_ = 0;
  std::optional<HTTPHeaderFields> responseHeaders_;
  int statusCode_ = -1;
  std::optional<Data> finalData_;
  std::shared_ptr<ZSDK_ZTKSessionFetcher> fetcherInFlight_;
  // Not a shared pointer while this fetcher itself is in flight: it must not own itself.
  bool selfInFlight_ = false;
  bool isSubdataGenerating_ = false;
  std::shared_ptr<URLRequest> lastChunkRequest_;
  // Retryable failures at one offset, for the bounded, delayed offset queries.
  std::int64_t failureOffset_ = -1;
  int failuresInARow_ = 0;
  Date firstFailureDate_;
  std::shared_ptr<Timer> queryDelayTimer_;
  std::shared_ptr<ZTKUploadPreparedChunk> preparedChunk_;
};

// The upload fetcher a chunk, query or cancel fetcher works for; nullptr for any other fetcher.
std::shared_ptr<ZSDK_ZTKSessionUploadFetcher> parentUploadFetcher(const ZSDK_ZTKSessionFetcher& fetcher);
