#include "platform/ui/ui_image.h"

#include <fstream>
#include <iterator>
#include <map>

#include <fmt/format.h>
#include <zlib.h>

#include "platform/ui/image_codec.h"

namespace {

struct NamedImages {
  std::map<std::string, std::shared_ptr<UIImage>> registered;
  UIImage::NamedLoader loader;
};

NamedImages& namedImages() {
  static NamedImages n;
  return n;
}

std::uint32_t be32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}
std::uint32_t be16(const std::uint8_t* p) { return (std::uint32_t{p[0]} << 8) | p[1]; }
std::uint32_t le16(const std::uint8_t* p) { return (std::uint32_t{p[1]} << 8) | p[0]; }

struct Decoded {
  UIImage::Format format = UIImage::Format::None;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
};

// Reads only the header: enough to know the format and the pixel size.
Decoded sniff(const Data& data) {
  const std::uint8_t* p = data.data();
  std::size_t n = data.size();
  static const std::uint8_t pngSig[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (n >= 24 && std::equal(pngSig, pngSig + 8, p) &&
      std::string_view(reinterpret_cast<const char*>(p + 12), 4) == "IHDR") {
    return {UIImage::Format::PNG, be32(p + 16), be32(p + 20)};
  }
  if (n >= 10 && (std::string_view(reinterpret_cast<const char*>(p), 6) == "GIF87a" ||
                  std::string_view(reinterpret_cast<const char*>(p), 6) == "GIF89a")) {
    return {UIImage::Format::GIF, le16(p + 6), le16(p + 8)};
  }
  if (n >= 4 && p[0] == 0xFF && p[1] == 0xD8) {
    std::size_t i = 2;
    while (i + 4 <= n) {
      if (p[i] != 0xFF) return {};
      std::uint8_t marker = p[i + 1];
      if (marker == 0xFF) {  // fill byte
        ++i;
        continue;
      }
      if (marker == 0xD9 || marker == 0xDA) return {};  // no frame header before the data
      std::size_t len = be16(p + i + 2);
      if (len < 2) return {};
      bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
      if (frame) {
        if (i + 9 > n) return {};
        return {UIImage::Format::JPEG, be16(p + i + 7), be16(p + i + 5)};
      }
      i += 2 + len;
    }
  }
  return {};
}

void putBe32(std::string& out, std::uint32_t v) {
  out.push_back(static_cast<char>(v >> 24));
  out.push_back(static_cast<char>(v >> 16));
  out.push_back(static_cast<char>(v >> 8));
  out.push_back(static_cast<char>(v));
}

void putChunk(std::string& out, std::string_view type, const std::string& body) {
  putBe32(out, static_cast<std::uint32_t>(body.size()));
  std::string typed = std::string(type) + body;
  out += typed;
  putBe32(out, static_cast<std::uint32_t>(
                   crc32(0, reinterpret_cast<const Bytef*>(typed.data()), static_cast<uInt>(typed.size()))));
}

// A fully transparent RGBA picture of the given pixel size.
std::optional<Data> blankPng(std::uint32_t width, std::uint32_t height) {
  std::string raw;
  raw.reserve((std::size_t{width} * 4 + 1) * height);
  for (std::uint32_t y = 0; y < height; ++y) {
    raw.push_back('\0');  // filter: none
    raw.append(std::size_t{width} * 4, '\0');
  }
  uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
  std::string packed(packedSize, '\0');
  if (compress(reinterpret_cast<Bytef*>(packed.data()), &packedSize, reinterpret_cast<const Bytef*>(raw.data()),
               static_cast<uLong>(raw.size())) != Z_OK) {
    return std::nullopt;
  }
  packed.resize(packedSize);
  std::string out("\x89PNG\r\n\x1A\n", 8);
  std::string ihdr;
  putBe32(ihdr, width);
  putBe32(ihdr, height);
  ihdr += std::string("\x08\x06\x00\x00\x00", 5);  // 8-bit RGBA, no interlace
  putChunk(out, "IHDR", ihdr);
  putChunk(out, "IDAT", packed);
  putChunk(out, "IEND", "");
  return Data::fromString(out);
}

// Pictures larger than this are not synthesised (the blank PNG is kept in memory).
constexpr double kMaxBlankPixels = 4.0 * 1024 * 1024;

}  // namespace

std::shared_ptr<UIImage> UIImage::make(CGSize size, double scale) {
  auto image = std::make_shared<UIImage>();
  image->size_ = size;
  image->scale_ = scale > 0 ? scale : 1;
  return image;
}

std::shared_ptr<UIImage> UIImage::imageWithData(const Data& data, double scale) {
  Decoded d = sniff(data);
  if (d.format == Format::None || d.width == 0 || d.height == 0) return nullptr;
  double s = scale > 0 ? scale : 1;
  auto image = make(CGSize{d.width / s, d.height / s}, s);
  image->format_ = d.format;
  image->data_ = data;
  return image;
}

std::shared_ptr<UIImage> UIImage::imageNamed(const std::string& name) {
  auto& n = namedImages();
  if (auto it = n.registered.find(name); it != n.registered.end()) return it->second;
  if (!n.loader) return nullptr;
  auto image = n.loader(name);
  if (!image) return nullptr;
  image->name_ = std::make_unique<const std::optional<std::string>>(name);
  n.registered[name] = image;  // the platform caches named images too
  return image;
}

void UIImage::registerNamedImage(const std::string& name, std::shared_ptr<UIImage> image) {
  if (image && !image->name_) image->name_ = std::make_unique<const std::optional<std::string>>(name);
  namedImages().registered[name] = std::move(image);
}

void UIImage::setNamedImageLoader(NamedLoader loader) { namedImages().loader = std::move(loader); }

void UIImage::resetNamedImages() {
  namedImages().registered.clear();
  namedImages().loader = nullptr;
}

UIImage::NamedLoader UIImage::directoryLoader(std::string folder) {
  return [folder = std::move(folder)](const std::string& name) -> std::shared_ptr<UIImage> {
    if (name.empty() || name.find('/') != std::string::npos || name.find("..") != std::string::npos) return nullptr;
    const std::pair<const char*, double> candidates[] = {{".png", 1}, {"@2x.png", 2}, {"@3x.png", 3},
                                                         {".jpg", 1}, {".jpeg", 1},   {".gif", 1}};
    for (const auto& [suffix, scale] : candidates) {
      std::ifstream in(folder + "/" + name + suffix, std::ios::binary);
      if (!in) continue;
      std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      return imageWithData(Data(std::move(bytes)), scale);
    }
    return nullptr;
  };
}

std::shared_ptr<UIImage> UIImage::imageWithRenderingMode(RenderingMode mode) const {
  auto copy = std::make_shared<UIImage>(*this);
  copy->renderingMode_ = mode;
  return copy;
}

UIImage::UIImage(const UIImage& other)
    : size_(other.size_),
      scale_(other.scale_),
      data_(other.data_),
      name_(other.name_ ? std::make_unique<const std::optional<std::string>>(*other.name_) : nullptr),
      renderingMode_(other.renderingMode_),
      format_(other.format_) {}

const std::optional<std::string>& UIImage::name() const {
  static const std::optional<std::string> none;
  return name_ ? *name_ : none;
}

std::string UIImage::description() const {
  if (name_) return **name_;
  return fmt::format("image {}x{}", size_.width, size_.height);
}

std::optional<Data> UIImageJPEGRepresentation(const std::shared_ptr<UIImage>& image, double compressionQuality) {
  if (!image) return std::nullopt;
  if (image->format_ == UIImage::Format::JPEG && image->data_) return image->data_;
  std::optional<Bitmap> pixels;
  if (image->format_ == UIImage::Format::PNG && image->data_) {
    pixels = decodePNG(*image->data_);
  } else if (!image->data_) {
    if (auto blank = UIImagePNGRepresentation(image)) pixels = decodePNG(*blank);
  }
  if (!pixels) return std::nullopt;
  return encodeJPEG(*pixels, compressionQuality);
}

std::optional<Data> UIImagePNGRepresentation(const std::shared_ptr<UIImage>& image) {
  if (!image) return std::nullopt;
  if (image->format_ == UIImage::Format::PNG && image->data_) return image->data_;
  if (image->format_ == UIImage::Format::JPEG && image->data_) {
    auto pixels = decodeJPEG(*image->data_);
    return pixels ? encodePNG(*pixels) : std::nullopt;
  }
  if (image->data_) return std::nullopt;  // no GIF decoder
  double w = image->size_.width * image->scale_, h = image->size_.height * image->scale_;
  if (w < 1 || h < 1 || w * h > kMaxBlankPixels) return std::nullopt;
  return blankPng(static_cast<std::uint32_t>(w), static_cast<std::uint32_t>(h));
}
