#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/ui/ui_color.h"
#include "platform/ui/ui_font.h"
#include "platform/ui/ui_view.h"

enum class NSTextAlignment { Left, Center, Right, Justified, Natural };

// How a label draws its text. Labels with the same look share one (see UILabel::restyle).
struct UILabelStyle {
  UIFont font;
  UIColor textColor = UIColor::blackColor();
  std::optional<UIColor> shadowColor;
  CGSize shadowOffset{0, -1};
  CGFloat preferredMaxLayoutWidth = 0;
  CGFloat minimumScaleFactor = 0;
  int numberOfLines = 1;
  NSTextAlignment textAlignment = NSTextAlignment::Natural;
  bool adjustsFontSizeToFitWidth = false;
  bool enabled = true;
  bool operator==(const UILabelStyle&) const = default;
};

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
  // A list's reload sets every row's text again: the same text is not copied first.
  void setText(const std::string& text) {
    if (text_ != text) setText(std::optional<std::string>(text));
  }
  void setText(const char* text) { setText(std::optional<std::string>(text)); }
  const UIFont& font() const { return style_->font; }
  void setFont(UIFont font);
  const UIColor& textColor() const { return style_->textColor; }
  void setTextColor(std::optional<UIColor> color);
  const std::optional<UIColor>& shadowColor() const { return style_->shadowColor; }
  void setShadowColor(std::optional<UIColor> color);
  CGSize shadowOffset() const { return style_->shadowOffset; }
  void setShadowOffset(CGSize offset);
  int numberOfLines() const { return style_->numberOfLines; }
  void setNumberOfLines(int n);
  NSTextAlignment textAlignment() const { return style_->textAlignment; }
  void setTextAlignment(NSTextAlignment a);
  CGFloat preferredMaxLayoutWidth() const { return style_->preferredMaxLayoutWidth; }
  void setPreferredMaxLayoutWidth(CGFloat w);
  bool adjustsFontSizeToFitWidth() const { return style_->adjustsFontSizeToFitWidth; }
  void setAdjustsFontSizeToFitWidth(bool v);
  CGFloat minimumScaleFactor() const { return style_->minimumScaleFactor; }
  void setMinimumScaleFactor(CGFloat f);
  bool isEnabled() const { return style_->enabled; }
  void setEnabled(bool e);

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
  // Applies `change` to a copy of the style; the result is shared with every label that has the
  // same (the cells of a list are styled alike). Whether the layout reads what changed is the
  // caller's to say.
  template <class F>
  void restyle(F&& change, bool affectsLayout);

  std::optional<std::string> text_;
  std::shared_ptr<const UILabelStyle> style_;
};
