// Any bytes as a sound: decoding must not crash, and a decoded sound must have a sane format.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/ui/sound_data.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto format = decodeSound(Data(std::vector<std::uint8_t>(data, data + size)));
  if (format && (format->channels < 1 || format->sampleRate < 1 || format->frames < 0 || format->duration() < 0)) {
    std::abort();
  }
  return 0;
}
