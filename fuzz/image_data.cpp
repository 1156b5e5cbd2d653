// Any bytes as a PNG and as a JPEG picture: decoding must not crash, and a decoded picture must
// hold exactly its pixels.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/ui/image_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Data bytes(std::vector<std::uint8_t>(data, data + size));
  for (const auto& bitmap : {decodePNG(bytes), decodeJPEG(bytes)}) {
    if (bitmap && bitmap->rgba.size() != std::size_t{bitmap->width} * bitmap->height * 4) std::abort();
  }
  return 0;
}
