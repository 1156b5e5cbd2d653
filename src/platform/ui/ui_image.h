#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/data.h"
#include "platform/ui/geometry.h"

// An immutable image. It keeps no pixels: an image knows its size, its name when it came from
// the bundle, and the encoded bytes when it was made from data (decoded only to re-encode). Images are shared, and
// compared by identity as on the platform.
class UIImage {
 public:
  enum class RenderingMode : std::uint8_t { Automatic, AlwaysOriginal, AlwaysTemplate };
  enum class Format : std::uint8_t { None, PNG, JPEG, GIF };

  // An empty image (size zero).
  static std::shared_ptr<UIImage> make(CGSize size = {}, double scale = 1);
  // The bundle image of that name, or nullptr when the bundle has none. Looked up in the
  // registered images, then through the installed loader.
  static std::shared_ptr<UIImage> imageNamed(const std::string& name);
  // nullptr unless `data` holds a PNG, JPEG or GIF image whose size can be read.
  static std::shared_ptr<UIImage> imageWithData(const Data& data, double scale = 1);

  // The bundle's images: explicit registrations (tests, built-in images) and a loader for the
  // rest (the application installs one over its resource folder). Neither is thread-safe: set them
  // up before the UI runs.
  using NamedLoader = std::function<std::shared_ptr<UIImage>(const std::string& name)>;
  static void registerNamedImage(const std::string& name, std::shared_ptr<UIImage> image);
  static void setNamedImageLoader(NamedLoader loader);
  static void resetNamedImages();
  // Loader over a folder: name.png, name@2x.png, name@3x.png, name.jpg, name.jpeg, name.gif.
  static NamedLoader directoryLoader(std::string folder);

  std::shared_ptr<UIImage> imageWithRenderingMode(RenderingMode mode) const;

  CGSize size() const { return size_; }
  double scale() const { return scale_; }
  const std::optional<std::string>& name() const;
  RenderingMode renderingMode() const { return renderingMode_; }
  Format format() const { return format_; }
  const std::optional<Data>& data() const { return data_; }

  // Short text for the screen rendering: the name, or "image WxH".
  std::string description() const;

  UIImage() = default;
  UIImage(const UIImage& other);
  UIImage& operator=(const UIImage&) = delete;

 private:
  friend std::optional<Data> UIImageJPEGRepresentation(const std::shared_ptr<UIImage>&, double);
  friend std::optional<Data> UIImagePNGRepresentation(const std::shared_ptr<UIImage>&);
  CGSize size_;
  double scale_ = 1;
  std::optional<Data> data_;
  // Thousands of fetched pictures have no name: it costs them the pointer alone.
  std::unique_ptr<const std::optional<std::string>> name_;
  RenderingMode renderingMode_ = RenderingMode::Automatic;
  Format format_ = Format::None;
};

// Encoded bytes of the image, or nothing when it cannot be encoded. An image made from data of
// the same format gives back that data; PNG and JPEG data are decoded and encoded in the other
// format; an image made without data is a transparent picture of its size (black in JPEG).
std::optional<Data> UIImageJPEGRepresentation(const std::shared_ptr<UIImage>& image, double compressionQuality);
std::optional<Data> UIImagePNGRepresentation(const std::shared_ptr<UIImage>& image);
