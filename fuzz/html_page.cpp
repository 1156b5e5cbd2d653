// Any bytes as a web page: parsing must not crash, and the text it keeps must be one-line pieces:
// no empty lines and no line breaks inside a line or the title.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/ui/web_document.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view html(reinterpret_cast<const char*>(data), size);
  const WebDocument document = WebDocument::parse(html);
  for (const auto& line : document.lines) {
    if (line.empty() || line.find('\n') != std::string::npos) std::abort();
  }
  if (document.title && document.title->find('\n') != std::string::npos) std::abort();
  return 0;
}
