#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/foundation/data.h"
#include "platform/net/url_request.h"

namespace net_detail {

// What a download needs to go on where it stopped: its request, the file holding the bytes
// received so far, and the validators that tell whether the server still has the same resource.
struct ResumeData {
  URLRequest request;
  std::string filePath;
  std::int64_t bytesReceived = 0;
  std::optional<std::string> entityTag;
  std::optional<std::string> lastModified;

  // The If-Range value: a strong entity tag, else the modification date; a weak tag never matches.
  std::optional<std::string> validator() const;
};

Data encodeResumeData(const ResumeData& resume);
// Nothing for bytes that are not resume data of this stand-in.
std::optional<ResumeData> decodeResumeData(const Data& data);

}  // namespace net_detail
