#include "platform/ui/sound_data.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include <sndfile.h>

namespace {

// The bytes as a file for the library: reads and seeks only.
struct MemoryFile {
  const Data& data;
  sf_count_t position = 0;
};

sf_count_t fileLength(void* user) { return static_cast<sf_count_t>(static_cast<MemoryFile*>(user)->data.size()); }

sf_count_t fileSeek(sf_count_t offset, int whence, void* user) {
  auto* file = static_cast<MemoryFile*>(user);
  const auto size = static_cast<sf_count_t>(file->data.size());
  sf_count_t base = whence == SEEK_CUR ? file->position : whence == SEEK_END ? size : 0;
  file->position = std::clamp<sf_count_t>(base + offset, 0, size);
  return file->position;
}

sf_count_t fileRead(void* out, sf_count_t count, void* user) {
  auto* file = static_cast<MemoryFile*>(user);
  const auto size = static_cast<sf_count_t>(file->data.size());
  const sf_count_t n = std::clamp<sf_count_t>(size - file->position, 0, std::max<sf_count_t>(count, 0));
  if (n > 0) std::memcpy(out, file->data.data() + file->position, static_cast<std::size_t>(n));
  file->position += n;
  return n;
}

sf_count_t fileWrite(const void*, sf_count_t, void*) { return 0; }

sf_count_t fileTell(void* user) { return static_cast<MemoryFile*>(user)->position; }

std::string containerName(int format) {
  switch (format & SF_FORMAT_TYPEMASK) {
    case SF_FORMAT_WAV:
    case SF_FORMAT_WAVEX:
    case SF_FORMAT_RF64: return "WAV";
    case SF_FORMAT_AIFF: return "AIFF";
    case SF_FORMAT_FLAC: return "FLAC";
    case SF_FORMAT_OGG: return "OGG";
    case SF_FORMAT_MPEG: return "MP3";
    default: return "sound";
  }
}

// More channels than any real recording has: a damaged header, not a sound to decode.
constexpr int kMaxChannels = 64;
constexpr sf_count_t kChunkFrames = 4096;

}  // namespace

tl::expected<SoundFormat, std::string> decodeSound(const Data& data) {
  MemoryFile file{data};
  SF_VIRTUAL_IO io{fileLength, fileSeek, fileRead, fileWrite, fileTell};
  SF_INFO info{};
  std::unique_ptr<SNDFILE, decltype(&sf_close)> sound(sf_open_virtual(&io, SFM_READ, &info, &file), &sf_close);
  if (!sound) return tl::make_unexpected(std::string(sf_strerror(nullptr)));
  if (info.channels < 1 || info.channels > kMaxChannels || info.samplerate < 1) {
    return tl::make_unexpected(std::string("unsupported channel count or sample rate"));
  }
  SoundFormat format{containerName(info.format), info.channels, info.samplerate, 0};
  std::vector<float> buffer(static_cast<std::size_t>(kChunkFrames * info.channels));
  for (sf_count_t n; (n = sf_readf_float(sound.get(), buffer.data(), kChunkFrames)) > 0;) format.frames += n;
  return format;
}
