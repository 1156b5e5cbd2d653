#include "platform/ui/ui_image_picker_controller.h"
#include "platform/net/local_file.h"
#include "platform/net/url_error.h"

#include <atomic>

#include <fmt/format.h>

#include "platform/net/local_file.h"
#include "platform/net/url_error.h"
#include "platform/ui/ui_bar_button_item.h"

namespace {

// The album the picker opens on: a title and the Cancel button.
class PickerAlbumViewController : public UIViewController {
 public:
  explicit PickerAlbumViewController(std::weak_ptr<UIImagePickerController> picker) : picker_(std::move(picker)) {
    setTitle("Photos");
  }
  void viewDidLoad() override {
    auto picker = picker_;
    navigationItem()->setRightBarButtonItem(std::make_shared<UIBarButtonItem>(
        "Cancel", UIBarButtonItemStyle::Plain, nullptr, "cancel", [picker](UIBarButtonItem&) {
          if (auto p = picker.lock()) p->cancel();
        }));
  }

 private:
  std::weak_ptr<UIImagePickerController> picker_;
};

}  // namespace

void UIImagePickerControllerDelegate::imagePickerControllerDidCancel(UIImagePickerController& picker) {
  picker.dismissViewControllerAnimated(true);
}

UIImagePickerController::UIImagePickerController() = default;

void UIImagePickerController::loadView() {
  if (viewControllers().empty()) {
    setViewControllers({std::make_shared<PickerAlbumViewController>(sharedAs<UIImagePickerController>())});
  }
  UINavigationController::loadView();
}

bool UIImagePickerController::isSourceTypeAvailable(UIImagePickerControllerSourceType type) {
  return type != UIImagePickerControllerSourceType::Camera;
}

std::shared_ptr<UIImagePickerControllerDelegate> UIImagePickerController::pickerDelegate() const {
  return std::dynamic_pointer_cast<UIImagePickerControllerDelegate>(delegate());
}

void UIImagePickerController::setDelegate(std::weak_ptr<UIImagePickerControllerDelegate> delegate) {
  UINavigationController::setDelegate(std::weak_ptr<UINavigationControllerDelegate>(delegate.lock()));
}

bool UIImagePickerController::pickImage(std::shared_ptr<UIImage> image, const URL& referenceURL) {
  if (!isOnScreen() || !image) return false;
  auto keep = sharedAs<UIImagePickerController>();
  UIImagePickerInfo info{{UIImagePickerControllerMediaType, std::string("public.image")},
                         {UIImagePickerControllerOriginalImage, std::move(image)},
                         {UIImagePickerControllerReferenceURL, referenceURL}};
  if (auto delegate = pickerDelegate()) {
    delegate->didFinishPickingMediaWithInfo(*this, info);
  } else {
    dismissViewControllerAnimated(true);
  }
  return true;
}

tl::expected<std::string, std::string> UIImagePickerController::pickImageAtPath(const std::string& path) {
  const auto bytes = readLocalFile(URL::fileURLWithPath(path), kMaxPickedFileBytes);
  if (!bytes) {
    if (bytes.error().code == NSURLErrorDataLengthExceedsMaximum)
      return tl::make_unexpected("'" + path + "' is larger than 32 MiB: no picture to pick");
    return tl::make_unexpected("'" + path + "' cannot be read");
  }
  auto image = UIImage::imageWithData(Data::fromString(*bytes));
  if (!image) return tl::make_unexpected("Not a PNG, JPEG or GIF image: '" + path + "'");
  if (!pickImage(image, assetURL(*image))) return tl::make_unexpected("The image picker takes no picture now");
  const char* kind = image->format() == UIImage::Format::JPEG  ? "JPEG"
                     : image->format() == UIImage::Format::GIF ? "GIF"
                                                               : "PNG";
  return std::string(kind) + " image";
}

// The photo library names a picture by an asset URL whose extension is the upper-case name of the
// picture's real format, whatever the file was called.
URL UIImagePickerController::assetURL(const UIImage& image) {
  static std::atomic<unsigned> nextId{1};
  const char* ext = image.format() == UIImage::Format::JPEG  ? "JPG"
                    : image.format() == UIImage::Format::GIF ? "GIF"
                                                             : "PNG";
  return *URL::URLWithString(fmt::format("assets-library://asset/asset.{0}?id={1}&ext={0}", ext, nextId++));
}

bool UIImagePickerController::cancel() {
  if (!isOnScreen()) return false;
  auto keep = sharedAs<UIImagePickerController>();
  if (auto delegate = pickerDelegate()) {
    delegate->imagePickerControllerDidCancel(*this);
  } else {
    dismissViewControllerAnimated(true);
  }
  return true;
}
