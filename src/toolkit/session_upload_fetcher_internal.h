#pragma once

// What the upload fetcher's source files share; not part of its interface.

#include <memory>
#include <mutex>
#include <vector>

#include "toolkit/session_upload_fetcher.h"

namespace ztk_upload_detail {

inline constexpr const char* kCommandHeader = "X-Zedodo-Upload-Command";
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
