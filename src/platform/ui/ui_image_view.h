#pragma once

#include <memory>

#include "platform/ui/ui_image.h"
#include "platform/ui/ui_view.h"

// Shows an image. Like on the platform it does not take touches unless told to; one that takes
// taps (a tap recogniser, touches on) prints its #name, with or without a picture.
class UIImageView : public UIView {
 public:
  static std::shared_ptr<UIImageView> make(std::shared_ptr<UIImage> image = nullptr);
  explicit UIImageView(CGRect frame = {});
  explicit UIImageView(std::shared_ptr<UIImage> image);
  explicit UIImageView(const NSCoder&) : UIImageView(CGRect{}) {}

  const std::shared_ptr<UIImage>& image() const { return image_; }
  void setImage(std::shared_ptr<UIImage> image) {
    if (image != image_) renderInputChanged();
    image_ = std::move(image);
  }
  const std::shared_ptr<UIImage>& highlightedImage() const;
  void setHighlightedImage(std::shared_ptr<UIImage> image);
  bool isHighlighted() const { return highlighted_; }
  void setHighlighted(bool h) {
    if (h != highlighted_) renderInputChanged();
    highlighted_ = h;
  }

  CGSize sizeThatFits(CGSize size) const override;
  // Touches on, a name, and an enabled tap recogniser: what `tap NAME` reaches.
  bool isTappable() const;
  // A tap recogniser's own switch is not reported: an image view with one always draws anew.
  bool drawsOnlyReportedState() const override;

 protected:
  void renderSelf(TextCanvas& canvas) const override;

 private:
  std::shared_ptr<UIImage> image_;
  // Made when first set: the pictures of a long list have none.
  std::unique_ptr<std::shared_ptr<UIImage>> highlightedImage_;
  bool highlighted_ = false;
};
