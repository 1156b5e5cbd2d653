#include "platform/ui/ui_label.h"

#include <cmath>
#include <sstream>
#include <typeinfo>

#include "platform/ui/render.h"

std::shared_ptr<UILabel> UILabel::make(CGRect frame) { return std::make_shared<UILabel>(frame); }

UILabel::UILabel(CGRect frame) : UIView(frame) { setUserInteractionEnabled(false); }

int UILabel::lineCountForWidth(CGFloat width) const {
  if (!text_ || text_->empty()) return 0;
  int lines = 0;
  std::istringstream in(*text_);
  for (std::string paragraph; std::getline(in, paragraph);) {
    double w = font_.widthOfText(paragraph);
    int wrapped = (width > 0 && w > width) ? static_cast<int>(std::ceil(w / width)) : 1;
    lines += wrapped;
  }
  if (numberOfLines_ > 0 && lines > numberOfLines_) lines = numberOfLines_;
  return lines;
}

CGSize UILabel::sizeThatFits(CGSize size) const {
  if (!text_ || text_->empty()) return {0, 0};
  CGFloat limit = numberOfLines_ == 1 ? 0 : (size.width > 0 ? size.width : preferredMaxLayoutWidth_);
  double widest = 0;
  std::istringstream in(*text_);
  for (std::string paragraph; std::getline(in, paragraph);) widest = std::max(widest, font_.widthOfText(paragraph));
  CGFloat width = limit > 0 ? std::min<CGFloat>(widest, limit) : widest;
  return {width, lineCountForWidth(limit) * font_.lineHeight()};
}

CGSize UILabel::intrinsicContentSize() const {
  return sizeThatFits(CGSize{preferredMaxLayoutWidth_ > 0 ? preferredMaxLayoutWidth_ : bounds().size.width, 0});
}

CGSize UILabel::systemLayoutSizeFittingSize(CGSize targetSize) const {
  CGFloat width = preferredMaxLayoutWidth_ > 0 ? preferredMaxLayoutWidth_ : targetSize.width;
  CGSize fit = sizeThatFits(CGSize{width, 0});
  return {targetSize.width > 0 ? targetSize.width : fit.width, fit.height};
}

bool UILabel::drawsOnlyReportedState() const { return typeid(*this) == typeid(UILabel); }

void UILabel::renderSelf(TextCanvas& canvas) const {
  if (!text_ || text_->empty()) return;
  std::istringstream in(*text_);
  for (std::string paragraph; std::getline(in, paragraph);) canvas.line(paragraph);
}
