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
// Samples decoded at most where no header gives the length: a few milliseconds of work, where
// decoding a megabyte of compressed silence whole takes many seconds.
constexpr sf_count_t kDecodeBudget = sf_count_t{1} << 18;

// One reading of the bytes: the library's handle over a cursor of its own.
class SoundReader {
 public:
  explicit SoundReader(const Data& data)
      : file_{data}, sound_(sf_open_virtual(&io_, SFM_READ, &info_, &file_), &sf_close) {}
  SoundReader(const SoundReader&) = delete;
  SoundReader& operator=(const SoundReader&) = delete;

  explicit operator bool() const { return sound_ != nullptr; }
  const SF_INFO& info() const { return info_; }
  SNDFILE* get() const { return sound_.get(); }
  // How far into the bytes the library has read.
  sf_count_t position() const { return file_.position; }

 private:
  MemoryFile file_;
  SF_VIRTUAL_IO io_{fileLength, fileSeek, fileRead, fileWrite, fileTell};
  SF_INFO info_{};
  std::unique_ptr<SNDFILE, decltype(&sf_close)> sound_;
};

// A header may claim more than the data holds: its last frame must be there.
bool readsFrame(const SoundReader& reader, sf_count_t frame) {
  if (sf_seek(reader.get(), frame, SEEK_SET) != frame) return false;
  std::vector<float> one(static_cast<std::size_t>(reader.info().channels));
  return sf_readf_float(reader.get(), one.data(), 1) == 1;
}

// Counted up to the budget; beyond it, the frames decoded in the share of the bytes read so far.
std::int64_t boundedFrameCount(const SoundReader& reader, std::size_t size) {
  const int channels = reader.info().channels;
  const sf_count_t budget = std::max<sf_count_t>(1, kDecodeBudget / channels);
  std::vector<float> buffer(static_cast<std::size_t>(kChunkFrames * channels));
  sf_count_t frames = 0;
  while (frames < budget) {
    const sf_count_t n = sf_readf_float(reader.get(), buffer.data(), std::min(kChunkFrames, budget - frames));
    if (n <= 0) return frames;
    frames += n;
  }
  if (reader.position() <= 0) return frames;
  const double estimate =
      static_cast<double>(frames) * static_cast<double>(size) / static_cast<double>(reader.position());
  return static_cast<std::int64_t>(std::min(estimate, static_cast<double>(SF_COUNT_MAX / 2)));
}

}  // namespace

tl::expected<SoundFormat, std::string> decodeSound(const Data& data) {
  SoundReader reader(data);
  if (!reader) return tl::make_unexpected(std::string(sf_strerror(nullptr)));
  const SF_INFO& info = reader.info();
  if (info.channels < 1 || info.channels > kMaxChannels || info.samplerate < 1) {
    return tl::make_unexpected(std::string("unsupported channel count or sample rate"));
  }
  SoundFormat format{containerName(info.format), info.channels, info.samplerate, info.frames};
  // The library says SF_COUNT_MAX for a length the header leaves open.
  const bool known = info.frames >= 0 && info.frames < SF_COUNT_MAX;
  if (known && (info.frames == 0 || readsFrame(reader, info.frames - 1))) return format;
  // A failed seek can leave the decoder unable to read on: count on a fresh reading.
  SoundReader fresh(data);
  format.frames = fresh ? boundedFrameCount(fresh, data.size()) : 0;
  return format;
}

struct SoundDecoder::Impl {
  explicit Impl(Data bytes) : data(std::move(bytes)), reader(data) {}
  Data data;
  SoundReader reader;  // reads `data`, so it comes after it
};

SoundDecoder::SoundDecoder(Data data) : impl_(std::make_unique<Impl>(std::move(data))) {}

SoundDecoder::~SoundDecoder() = default;

SoundDecoder::operator bool() const { return static_cast<bool>(impl_->reader); }

int SoundDecoder::channels() const { return impl_->reader.info().channels; }

bool SoundDecoder::seek(std::int64_t frame) {
  return impl_->reader && sf_seek(impl_->reader.get(), frame, SEEK_SET) == frame;
}

std::int64_t SoundDecoder::read(float* out, std::int64_t frames) {
  if (!impl_->reader || frames <= 0) return 0;
  return std::max<sf_count_t>(0, sf_readf_float(impl_->reader.get(), out, frames));
}
