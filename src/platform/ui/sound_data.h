#pragma once

#include <cstdint>
#include <memory>
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

// The sound in `data` decoded frame by frame, as floats interleaved by channel. One reader: use it
// from one thread at a time.
class SoundDecoder {
 public:
  explicit SoundDecoder(Data data);
  ~SoundDecoder();
  SoundDecoder(const SoundDecoder&) = delete;
  SoundDecoder& operator=(const SoundDecoder&) = delete;

  // False where the data is not a sound.
  explicit operator bool() const;
  int channels() const;
  bool seek(std::int64_t frame);
  // Frames read into `out`, which has room for `frames` × channels(); 0 at the end or on an error.
  std::int64_t read(float* out, std::int64_t frames);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};
