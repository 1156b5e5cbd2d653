#pragma once

#include <cstdint>
#include <map>
#include <memory>

#include <string>
#include <tl/expected.hpp>
#include <variant>

#include "platform/foundation/url.h"
#include "platform/ui/ui_image.h"
#include "platform/ui/ui_navigation_controller.h"

class UIImagePickerController;

enum class UIImagePickerControllerSourceType { PhotoLibrary = 0, Camera = 1, SavedPhotosAlbum = 2 };

// Keys of the picked media's info.
inline constexpr const char* UIImagePickerControllerMediaType = "UIImagePickerControllerMediaType";
inline constexpr const char* UIImagePickerControllerOriginalImage = "UIImagePickerControllerOriginalImage";
inline constexpr const char* UIImagePickerControllerReferenceURL = "UIImagePickerControllerReferenceURL";

using UIImagePickerInfoValue = std::variant<std::string, URL, std::shared_ptr<UIImage>>;
using UIImagePickerInfo = std::map<std::string, UIImagePickerInfoValue>;

// Every method has the platform's default answer: a cancel dismisses the picker.
class UIImagePickerControllerDelegate : public UINavigationControllerDelegate {
 public:
  virtual void didFinishPickingMediaWithInfo(UIImagePickerController&, const UIImagePickerInfo&) {}
  virtual void imagePickerControllerDidCancel(UIImagePickerController& picker);
};

// The system's photo chooser, presented by the application. There is no photo library: the user
// (a test, the console driver) picks an image, or cancels, through the drivers below.
class UIImagePickerController : public UINavigationController {
 public:
  UIImagePickerController();

  // Only the photo library and the saved photos exist here (there is no camera).
  static bool isSourceTypeAvailable(UIImagePickerControllerSourceType type);
  UIImagePickerControllerSourceType sourceType() const { return sourceType_; }
  void setSourceType(UIImagePickerControllerSourceType type) { sourceType_ = type; }
  bool allowsEditing() const { return allowsEditing_; }
  void setAllowsEditing(bool allows) { allowsEditing_ = allows; }

  // The picker's delegate is its navigation delegate, as on the platform.
  std::shared_ptr<UIImagePickerControllerDelegate> pickerDelegate() const;
  void setDelegate(std::weak_ptr<UIImagePickerControllerDelegate> delegate);

  // The user picks `image`, found at `referenceURL`: the delegate hears it with the media type
  // "public.image". Refused (false) unless the picker is on screen.
  bool pickImage(std::shared_ptr<UIImage> image, const URL& referenceURL);
  // The same with the image file at `path`, named by an asset URL as the photo library would
  // ("asset.JPG" for any JPEG file). The picked picture's kind ("GIF image"), or why nothing was
  // picked, as a line for the user: a file that cannot be read, one over kMaxPickedFileBytes (read
  // no further), one that is no PNG, JPEG or GIF image, a picker not on screen.
  tl::expected<std::string, std::string> pickImageAtPath(const std::string& path);
  static constexpr std::int64_t kMaxPickedFileBytes = 32 * 1024 * 1024;
  // The user's Cancel. Refused (false) unless the picker is on screen.
  bool cancel();

  // Opens on the album (a title and a Cancel button).
  void loadView() override;

 private:
  static URL assetURL(const UIImage& image);
  UIImagePickerControllerSourceType sourceType_ = UIImagePickerControllerSourceType::PhotoLibrary;
  bool allowsEditing_ = false;
};
