#include "platform/ui/ui_image_picker_controller.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include <fstream>

#include "controller_test_support.h"
#include "platform/ui/image_codec.h"
#include "platform/ui/ui_bar_button_item.h"
#include "platform/ui/ui_window.h"
#include "support/temp_dir.h"

namespace {

class PickLog : public UIImagePickerControllerDelegate {
 public:
  void didFinishPickingMediaWithInfo(UIImagePickerController& picker, const UIImagePickerInfo& info) override {
    auto image = std::get<std::shared_ptr<UIImage>>(info.at(UIImagePickerControllerOriginalImage));
    picked.push_back(std::get<URL>(info.at(UIImagePickerControllerReferenceURL)).pathExtension() + " " +
                     image->description());
    picker.dismissViewControllerAnimated(true);
  }
  std::vector<std::string> picked;
};

// 16x8: an opaque red left half, a half-transparent blue right half.
Bitmap picture() {
  Bitmap bitmap{16, 8, {}};
  for (std::uint32_t i = 0; i < 16 * 8; ++i) {
    const bool left = i % 16 < 8;
    bitmap.rgba.insert(bitmap.rgba.end(),
                       {std::uint8_t(left ? 255 : 0), 0, std::uint8_t(left ? 0 : 255), std::uint8_t(left ? 255 : 128)});
  }
  return bitmap;
}

}  // namespace

TEST(ImageCodecTest, PNGRoundTripsExactlyAndJPEGKeepsTheSizeAndRoughColours) {
  const Bitmap kPicture = picture();
  auto png = encodePNG(kPicture);
  ASSERT_TRUE(png);
  EXPECT_EQ(decodePNG(*png), kPicture);

  auto jpeg = encodeJPEG(kPicture, 0.9);
  ASSERT_TRUE(jpeg);
  auto decoded = decodeJPEG(*jpeg);
  ASSERT_TRUE(decoded);
  ASSERT_EQ(decoded->rgba.size(), kPicture.rgba.size());
  EXPECT_GT(decoded->rgba[0], 200);           // red stays red
  EXPECT_GT(decoded->rgba[15 * 4 + 2], 200);  // blue stays blue
  EXPECT_EQ(decoded->rgba[15 * 4 + 3], 255);  // no alpha in JPEG
  auto asPNG = UIImagePNGRepresentation(UIImage::imageWithData(*jpeg));
  ASSERT_TRUE(asPNG);
  EXPECT_EQ(decodePNG(*asPNG)->width, 16u);

  for (const Data& bad : {Data(), Data::fromString("\x89PNG\r\n\x1A\n garbage"), Data::fromString("\xFF\xD8\xFF")}) {
    EXPECT_EQ(decodePNG(bad), std::nullopt);
    EXPECT_EQ(decodeJPEG(bad), std::nullopt);
  }
  EXPECT_EQ(encodePNG(Bitmap{2, 2, {0, 0, 0, 0}}), std::nullopt);  // too few pixels
}

class ImagePickerTest : public ControllerTest {
 protected:
  ImagePickerTest() {
    window->setRootViewController(root);
    window->makeKeyAndVisible();
  }

  std::shared_ptr<UIWindow> window = UIWindow::make();
  std::shared_ptr<Recorder> root = recorder("root");
};

TEST_F(ImagePickerTest, APickReachesTheDelegateWithTheImageAndItsURL) {
  TempDir dir;
  const std::string path = dir.str() + "/photo.png";
  std::ofstream(path, std::ios::binary) << encodePNG(picture())->toString();
  auto delegate = std::make_shared<PickLog>();

  auto picker = std::make_shared<UIImagePickerController>();
  picker->setDelegate(delegate);
  EXPECT_FALSE(picker->pickImageAtPath(path));  // not on screen
  root->presentViewController(picker, true);
  // Nothing to read, too much to read, or no picture: each says why, and the picker stays.
  const std::string huge = dir.str() + "/huge.png";
  std::filesystem::resize_file((std::ofstream(huge), huge), UIImagePickerController::kMaxPickedFileBytes + 1);
  std::ofstream(dir.str() + "/notes.txt") << "no picture";
  ASSERT_EQ(::mkfifo((dir.str() + "/pipe.png").c_str(), 0600), 0);
  for (const auto& [file, reason] : std::vector<std::pair<std::string, std::string>>{
           {"/missing.png", "cannot be read"},
           {"/pipe.png", "cannot be read"},
           {"/huge.png", "is larger than 32 MiB"},
           {"/notes.txt", "Not a PNG"}}) {
    const auto refused = picker->pickImageAtPath(dir.str() + file);
    EXPECT_NE(refused ? std::string::npos : refused.error().find(reason), std::string::npos) << file;
  }
  EXPECT_EQ(picker->pickImageAtPath(path), "PNG image");
  const std::string jpeg = dir.str() + "/photo.jpg";
  std::ofstream(jpeg, std::ios::binary) << encodeJPEG(picture(), 0.9)->toString();
  root->presentViewController(picker, true);
  ASSERT_TRUE(picker->pickImageAtPath(jpeg));
  EXPECT_EQ(delegate->picked, (std::vector<std::string>{"PNG image 16x8", "JPG image 16x8"}));
  EXPECT_EQ(root->presentedViewController(), nullptr);
}

TEST_F(ImagePickerTest, CancelDismissesByDefaultWithOrWithoutADelegate) {
  auto delegate = std::make_shared<PickLog>();
  for (bool withDelegate : {true, false}) {
    auto picker = std::make_shared<UIImagePickerController>();
    root->presentViewController(picker, true);
    if (withDelegate) picker->setDelegate(delegate);
    auto cancel = picker->navigationBar()->topItem()->rightBarButtonItems().at(0);
    EXPECT_EQ(cancel->title(), "Cancel");
    ASSERT_TRUE(cancel->tap());
    EXPECT_EQ(root->presentedViewController(), nullptr);
    EXPECT_FALSE(picker->cancel());
  }
  EXPECT_TRUE(delegate->picked.empty());
}
