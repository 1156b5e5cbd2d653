#include "platform/ui/ui_image.h"

#include <gtest/gtest.h>

namespace {

Data bytes(std::initializer_list<int> values) {
  std::vector<std::uint8_t> out;
  for (int v : values) out.push_back(static_cast<std::uint8_t>(v));
  return Data(std::move(out));
}

}  // namespace

TEST(UIImageTest, ReadsTheSizeOfEncodedPictures) {
  auto png = UIImagePNGRepresentation(UIImage::make({3, 2}, 2));
  ASSERT_TRUE(png);
  auto decoded = UIImage::imageWithData(*png, 2);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->size(), (CGSize{3, 2}));  // 6x4 pixels at scale 2
  EXPECT_EQ(decoded->format(), UIImage::Format::PNG);
  EXPECT_EQ(UIImagePNGRepresentation(decoded), png);
  auto reencoded = UIImageJPEGRepresentation(decoded, 1.0);
  ASSERT_TRUE(reencoded);
  EXPECT_EQ(UIImage::imageWithData(*reencoded, 2)->size(), (CGSize{3, 2}));

  // SOI, an APP0 segment, then a baseline frame header of 16x8.
  auto jpeg = bytes({0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x04, 0x00, 0x00, 0xFF, 0xC0, 0x00,
                     0x0B, 0x08, 0x00, 0x08, 0x00, 0x10, 0x01, 0x01, 0x11, 0x00});
  auto photo = UIImage::imageWithData(jpeg);
  ASSERT_TRUE(photo);
  EXPECT_EQ(photo->size(), (CGSize{16, 8}));
  EXPECT_EQ(UIImageJPEGRepresentation(photo, 1.0), jpeg);
  EXPECT_EQ(UIImagePNGRepresentation(photo), std::nullopt);

  EXPECT_EQ(UIImage::imageWithData(Data::fromString("not an image")), nullptr);
  EXPECT_EQ(UIImage::imageWithData(bytes({0xFF, 0xD8, 0xFF, 0xE0, 0x00})), nullptr);  // truncated
  EXPECT_EQ(UIImagePNGRepresentation(UIImage::make()), std::nullopt);                 // empty
}

TEST(UIImageTest, NamedImagesComeFromRegistrationsThenTheLoader) {
  UIImage::resetNamedImages();
  EXPECT_EQ(UIImage::imageNamed("placeholder"), nullptr);
  auto placeholder = UIImage::make({10, 10});
  UIImage::registerNamedImage("placeholder", placeholder);
  EXPECT_EQ(UIImage::imageNamed("placeholder"), placeholder);
  EXPECT_EQ(placeholder->name(), "placeholder");

  int loads = 0;
  UIImage::setNamedImageLoader([&](const std::string& name) -> std::shared_ptr<UIImage> {
    ++loads;
    return name == "logo" ? UIImage::make({1, 1}) : nullptr;
  });
  auto logo = UIImage::imageNamed("logo");
  ASSERT_TRUE(logo);
  EXPECT_EQ(UIImage::imageNamed("logo"), logo);  // loaded once, then the same image
  EXPECT_EQ(UIImage::imageNamed("missing"), nullptr);
  EXPECT_EQ(loads, 2);
  EXPECT_EQ(UIImage::directoryLoader("/nonexistent")("../etc/passwd"), nullptr);

  auto templated = logo->imageWithRenderingMode(UIImage::RenderingMode::AlwaysTemplate);
  EXPECT_NE(templated, logo);
  EXPECT_EQ(templated->name(), "logo");
  EXPECT_EQ(logo->renderingMode(), UIImage::RenderingMode::Automatic);
  UIImage::resetNamedImages();
}
