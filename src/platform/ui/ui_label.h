#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/ui/ui_color.h"
#include "platform/ui/ui_font.h"
#include "platform/ui/ui_view.h"

enum class NSTextAlignment { Left, Center, Right, Justified, Natural };

// A read-only text. Measuring is deterministic (see UIFont): a text wraps at the width limit,
// up to numberOfLines lines (0: no limit).
class UILabel : public UIView {
 public:
  static std::shared_ptr<UILabel> make(CGRect frame = {});
  explicit UILabel(CGRect frame = {});
  explicit UILabel(const NSCoder&) : UILabel(CGRect{}) {}

  const std::optional<std::string>& text() const { return text_; }
  void setText(std::optional<std::string> text) {
    if (text == text_) return;
    text_ = std::move(text);
    layoutInputChanged();
    renderInputChanged();
  }
  const UIFont& font() const { return font_; }
  void setFont(UIFont font) {
    if (font == font_) return;
    font_ = std::move(font);
    layoutInputChanged();
  }
  const UIColor& textColor() const { return textColor_; }
  void setTextColor(std::optional<UIColor> color) { textColor_ = color.value_or(UIColor::blackColor()); }
  const std::optional<UIColor>& shadowColor() const { return shadowColor_; }
  void setShadowColor(std::optional<UIColor> color) { shadowColor_ = std::move(color); }
  CGSize shadowOffset() const { return shadowOffset_; }
  void setShadowOffset(CGSize offset) { shadowOffset_ = offset; }
  int numberOfLines() const { return numberOfLines_; }
  void setNumberOfLines(int n) {
    numberOfLines_ = n;
    layoutInputChanged();
  }
  NSTextAlignment textAlignment() const { return textAlignment_; }
  void setTextAlignment(NSTextAlignment a) { textAlignment_ = a; }
  CGFloat preferredMaxLayoutWidth() const { return preferredMaxLayoutWidth_; }
  void setPreferredMaxLayoutWidth(CGFloat w) {
    preferredMaxLayoutWidth_ = w;
    layoutInputChanged();
  }
  bool adjustsFontSizeToFitWidth() const { return adjustsFontSizeToFitWidth_; }
  void setAdjustsFontSizeToFitWidth(bool v) {
    adjustsFontSizeToFitWidth_ = v;
    layoutInputChanged();
  }
  CGFloat minimumScaleFactor() const { return minimumScaleFactor_; }
  void setMinimumScaleFactor(CGFloat f) {
    minimumScaleFactor_ = f;
    layoutInputChanged();
  }
  bool isEnabled() const { return enabled_; }
  void setEnabled(bool e) { enabled_ = e; }

  // Lines the text takes at `width` (0 or less: no limit), capped by numberOfLines.
  int lineCountForWidth(CGFloat width) const;
  CGSize sizeThatFits(CGSize size) const override;
  // Wrapped at preferredMaxLayoutWidth, else at the current width.
  CGSize intrinsicContentSize() const override;
  CGSize systemLayoutSizeFittingSize(CGSize targetSize) const override;
  bool drawsOnlyReportedState() const override;

 protected:
  void renderSelf(TextCanvas& canvas) const override;

 private:
  std::optional<std::string> text_;
  UIFont font_;
  UIColor textColor_ = UIColor::blackColor();
  std::optional<UIColor> shadowColor_;
  CGSize shadowOffset_{0, -1};
  int numberOfLines_ = 1;
  NSTextAlignment textAlignment_ = NSTextAlignment::Natural;
  CGFloat preferredMaxLayoutWidth_ = 0;
  bool adjustsFontSizeToFitWidth_ = false;
  CGFloat minimumScaleFactor_ = 0;
  bool enabled_ = true;
};
