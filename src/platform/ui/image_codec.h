#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/foundation/data.h"

// Pixels: rows top to bottom, 8-bit RGBA.
struct Bitmap {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::vector<std::uint8_t> rgba;

  bool operator==(const Bitmap&) const = default;
};

// Nothing for data that is not a whole image of that format, or one too large to hold.
std::optional<Bitmap> decodePNG(const Data& data);
std::optional<Bitmap> decodeJPEG(const Data& data);
// Nothing for an empty or inconsistent bitmap. JPEG has no alpha: it is dropped.
std::optional<Data> encodePNG(const Bitmap& bitmap);
// `quality` from 0 (smallest) to 1 (best).
std::optional<Data> encodeJPEG(const Bitmap& bitmap, double quality);
