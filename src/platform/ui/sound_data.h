#pragma once

#include <cstdint>
#include <string>

#include <tl/expected.hpp>

#include "platform/foundation/data.h"

// What reading a sound found out.
struct SoundFormat {
  std::string container;  // "WAV", "AIFF", "FLAC", "OGG", "MP3" or "sound"
  int channels = 0;
  int sampleRate = 0;
  // The header's count where the data holds its last frame; else counted, or, past a bounded
  // decode, estimated from the share of the bytes read (short for near silence: the library reads
  // ahead).
  std::int64_t frames = 0;

  double duration() const { return sampleRate > 0 ? static_cast<double>(frames) / sampleRate : 0; }
};

// Reads the format of the sound in `data` (whatever the installed sound library reads: WAV, AIFF,
// FLAC, Ogg and MP3 where supported) in bounded time, whatever its length. The library's reason
// when it is not a sound.
tl::expected<SoundFormat, std::string> decodeSound(const Data& data);
