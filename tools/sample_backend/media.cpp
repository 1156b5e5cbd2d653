#include "media.h"

#include <zlib.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <regex>

namespace {

std::uint32_t nameHash(const std::string& name) {
  std::uint32_t hash = 2166136261u;
  for (unsigned char c : name) hash = (hash ^ c) * 16777619u;
  return hash;
}

void putBigEndian(std::string& out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((value >> shift) & 0xFF);
}

void putLittleEndian(std::string& out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

void pngChunk(std::string& out, const char* type, const std::string& data) {
  putBigEndian(out, static_cast<std::uint32_t>(data.size()));
  std::string typed = std::string(type, 4) + data;
  out += typed;
  putBigEndian(out, static_cast<std::uint32_t>(
                        crc32(0, reinterpret_cast<const Bytef*>(typed.data()), static_cast<uInt>(typed.size()))));
}

std::string png(std::uint32_t hash) {
  constexpr std::uint32_t kSide = 48;
  const unsigned char colour[3] = {static_cast<unsigned char>(hash), static_cast<unsigned char>(hash >> 8),
                                   static_cast<unsigned char>(hash >> 16)};
  std::string raw;
  for (std::uint32_t y = 0; y < kSide; ++y) {
    raw += '\0';  // no filter
    for (std::uint32_t x = 0; x < kSide; ++x) {
      // A lighter diagonal band, so the picture is not one flat colour.
      const bool band = (x + y) % 16 < 4;
      for (unsigned char c : colour) raw += static_cast<char>(band ? 255 - (255 - c) / 2 : c);
    }
  }
  uLongf size = compressBound(raw.size());
  std::string packed(size, '\0');
  compress(reinterpret_cast<Bytef*>(packed.data()), &size, reinterpret_cast<const Bytef*>(raw.data()), raw.size());
  packed.resize(size);

  std::string header;
  putBigEndian(header, kSide);
  putBigEndian(header, kSide);
  header += std::string("\x08\x02\x00\x00\x00", 5);  // 8-bit RGB, no interlace
  std::string out = "\x89PNG\r\n\x1a\n";
  pngChunk(out, "IHDR", header);
  pngChunk(out, "IDAT", packed);
  pngChunk(out, "IEND", "");
  return out;
}

std::string wav(const std::string& stem, std::uint32_t hash) {
  constexpr std::uint32_t kRate = 8000;
  constexpr std::uint32_t kSamples = kRate / 2;
  const double frequency = stem == "tone-a" ? 440.0 : stem == "tone-c" ? 523.25 : 220.0 + hash % 440;
  std::string samples;
  for (std::uint32_t i = 0; i < kSamples; ++i) {
    const double fade = std::min(1.0, std::min(i, kSamples - i) / 400.0);  // no clicks at the ends
    const double value = 0.3 * fade * std::sin(2 * std::numbers::pi * frequency * i / kRate);
    putLittleEndian(samples, static_cast<std::uint32_t>(static_cast<std::int16_t>(value * 32767)), 2);
  }
  std::string out = "RIFF";
  putLittleEndian(out, 36 + static_cast<std::uint32_t>(samples.size()), 4);
  out += "WAVEfmt ";
  putLittleEndian(out, 16, 4);
  putLittleEndian(out, 1, 2);  // PCM
  putLittleEndian(out, 1, 2);  // mono
  putLittleEndian(out, kRate, 4);
  putLittleEndian(out, kRate * 2, 4);
  putLittleEndian(out, 2, 2);
  putLittleEndian(out, 16, 2);
  out += "data";
  putLittleEndian(out, static_cast<std::uint32_t>(samples.size()), 4);
  return out + samples;
}

}  // namespace

std::optional<MediaFile> generateMedia(const std::string& name) {
  static const std::regex pattern("([a-z0-9-]+)\\.(png|wav|mp4)");
  std::smatch match;
  if (!std::regex_match(name, match, pattern)) return std::nullopt;
  const std::string stem = match[1];
  const std::string kind = match[2];
  if (kind == "png") return MediaFile{"image/png", png(nameHash(stem))};
  if (kind == "wav") return MediaFile{"audio/wav", wav(stem, nameHash(stem))};
  std::string box;
  putBigEndian(box, 24);
  box += "ftypisom";
  putBigEndian(box, 0x200);
  box += "isommp41";
  return MediaFile{"video/mp4", box};
}
