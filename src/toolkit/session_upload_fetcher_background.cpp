#include <algorithm>
#include <limits>

#include "platform/foundation/ascii.h"
#include "toolkit/session_upload_fetcher.h"
#include "toolkit/session_upload_fetcher_internal.h"

using namespace ztk_upload_detail;

namespace {

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

}  // namespace

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
