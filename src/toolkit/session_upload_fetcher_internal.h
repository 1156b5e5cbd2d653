#pragma once

// What the upload fetcher's source files share; not part of its interface.

#include <memory>
#include <mutex>
#include <vector>

#include "toolkit/session_upload_fetcher.h"

namespace ztk_upload_detail {

using Upload = ZSDK_ZTKSessionUploadFetcher;

// The protocol's request and response headers.
inline constexpr const char* kProtocolHeader = "X-Zedodo-Upload-Protocol";
inline constexpr const char* kCommandHeader = "X-Zedodo-Upload-Command";
inline constexpr const char* kContentTypeHeader = "X-Zedodo-Upload-Content-Type";
inline constexpr const char* kContentLengthHeader = "X-Zedodo-Upload-Content-Length";
inline constexpr const char* kOffsetHeader = "X-Zedodo-Upload-Offset";
inline constexpr const char* kURLHeader = "X-Zedodo-Upload-URL";
inline constexpr const char* kStatusHeader = "X-Zedodo-Upload-Status";
inline constexpr const char* kSizeReceivedHeader = "X-Zedodo-Upload-Size-Received";
inline constexpr const char* kGranularityHeader = "X-Zedodo-Upload-Chunk-Granularity";
// The property a chunk fetcher finds its upload under.
inline constexpr const char* kChunkParentKey = "_uploadFetcherChunkParent";

struct BackgroundUploads {
  std::mutex mutex;
  std::vector<std::weak_ptr<ZSDK_ZTKSessionUploadFetcher>> fetchers;
};

inline BackgroundUploads& backgroundUploads() {
  static auto* list = new BackgroundUploads();
  return *list;
}

}  // namespace ztk_upload_detail
