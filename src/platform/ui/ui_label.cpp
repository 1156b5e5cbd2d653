#include "platform/ui/ui_label.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <sstream>
#include <typeinfo>
#include <unordered_map>

#include "platform/ui/render.h"

std::shared_ptr<UILabel> UILabel::make(CGRect frame) { return std::make_shared<UILabel>(frame); }

namespace {

const std::shared_ptr<const UILabelStyle>& defaultStyle() {
  static const auto style = std::make_shared<const UILabelStyle>();
  return style;
}

std::size_t hashOf(const UILabelStyle& s) {
  std::size_t h = std::hash<std::string>()(s.font.fontName());
  for (double v : {s.font.pointSize(), s.textColor.red(), s.textColor.green(), s.textColor.blue(), s.textColor.alpha(),
                   s.shadowOffset.width, s.shadowOffset.height, s.preferredMaxLayoutWidth})
    h = h * 31 + std::hash<double>()(v);
  return h * 31 + static_cast<std::size_t>(s.numberOfLines);
}

// Every style a label holds, once: the labels of a list's cells look alike. Held weakly; the
// entries of styles no label uses any more are swept out as the table doubles.
std::shared_ptr<const UILabelStyle> sharedStyle(UILabelStyle&& style) {
  if (style == *defaultStyle()) return defaultStyle();
  struct Table {
    std::unordered_multimap<std::size_t, std::weak_ptr<const UILabelStyle>> byHash;
    std::size_t sweepAt = 64;
  };
  thread_local Table table;
  const std::size_t hash = hashOf(style);
  auto [first, last] = table.byHash.equal_range(hash);
  for (auto it = first; it != last; ++it) {
    if (auto shared = it->second.lock(); shared && *shared == style) return shared;
  }
  // Made apart from its count, so that a style's memory goes with its last label.
  std::shared_ptr<const UILabelStyle> made(new UILabelStyle(std::move(style)));
  table.byHash.emplace(hash, made);
  if (table.byHash.size() >= table.sweepAt) {
    std::erase_if(table.byHash, [](const auto& entry) { return entry.second.expired(); });
    table.sweepAt = std::max<std::size_t>(64, 2 * table.byHash.size());
  }
  return made;
}

}  // namespace

UILabel::UILabel(CGRect frame) : UIView(frame), style_(defaultStyle()) { setUserInteractionEnabled(false); }

template <class F>
void UILabel::restyle(F&& change, bool affectsLayout) {
  UILabelStyle next = *style_;
  change(next);
  if (next == *style_) return;
  if (affectsLayout) layoutInputChanged();
  style_ = sharedStyle(std::move(next));
}

void UILabel::setFont(UIFont font) {
  // A reload sets every cell's font again.
  if (font == style_->font) return;
  restyle([&](UILabelStyle& s) { s.font = std::move(font); }, true);
}

// A list's reload sets every row's looks again: an unchanged one costs a comparison only.
void UILabel::setTextColor(std::optional<UIColor> color) {
  if (style_->textColor == color.value_or(UIColor::blackColor())) return;
  restyle([&](UILabelStyle& s) { s.textColor = color.value_or(UIColor::blackColor()); }, false);
}

void UILabel::setShadowColor(std::optional<UIColor> color) {
  if (style_->shadowColor == color) return;
  restyle([&](UILabelStyle& s) { s.shadowColor = std::move(color); }, false);
}

void UILabel::setShadowOffset(CGSize offset) {
  if (style_->shadowOffset == offset) return;
  restyle([&](UILabelStyle& s) { s.shadowOffset = offset; }, false);
}

void UILabel::setNumberOfLines(int n) {
  restyle([&](UILabelStyle& s) { s.numberOfLines = n; }, true);
}

void UILabel::setTextAlignment(NSTextAlignment a) {
  restyle([&](UILabelStyle& s) { s.textAlignment = a; }, false);
}

void UILabel::setPreferredMaxLayoutWidth(CGFloat w) {
  restyle([&](UILabelStyle& s) { s.preferredMaxLayoutWidth = w; }, true);
}

void UILabel::setAdjustsFontSizeToFitWidth(bool v) {
  restyle([&](UILabelStyle& s) { s.adjustsFontSizeToFitWidth = v; }, true);
}

void UILabel::setMinimumScaleFactor(CGFloat f) {
  restyle([&](UILabelStyle& s) { s.minimumScaleFactor = f; }, true);
}

void UILabel::setEnabled(bool e) {
  restyle([&](UILabelStyle& s) { s.enabled = e; }, false);
}

int UILabel::lineCountForWidth(CGFloat width) const {
  if (!text_ || text_->empty()) return 0;
  int lines = 0;
  std::istringstream in(*text_);
  for (std::string paragraph; std::getline(in, paragraph);) {
    double w = font().widthOfText(paragraph);
    int wrapped = (width > 0 && w > width) ? static_cast<int>(std::ceil(w / width)) : 1;
    lines += wrapped;
  }
  if (numberOfLines() > 0 && lines > numberOfLines()) lines = numberOfLines();
  return lines;
}

CGSize UILabel::sizeThatFits(CGSize size) const {
  if (!text_ || text_->empty()) return {0, 0};
  CGFloat limit = numberOfLines() == 1 ? 0 : (size.width > 0 ? size.width : preferredMaxLayoutWidth());
  double widest = 0;
  std::istringstream in(*text_);
  for (std::string paragraph; std::getline(in, paragraph);) widest = std::max(widest, font().widthOfText(paragraph));
  CGFloat width = limit > 0 ? std::min<CGFloat>(widest, limit) : widest;
  return {width, lineCountForWidth(limit) * font().lineHeight()};
}

CGSize UILabel::intrinsicContentSize() const {
  return sizeThatFits(CGSize{preferredMaxLayoutWidth() > 0 ? preferredMaxLayoutWidth() : bounds().size.width, 0});
}

CGSize UILabel::systemLayoutSizeFittingSize(CGSize targetSize) const {
  CGFloat width = preferredMaxLayoutWidth() > 0 ? preferredMaxLayoutWidth() : targetSize.width;
  CGSize fit = sizeThatFits(CGSize{width, 0});
  return {targetSize.width > 0 ? targetSize.width : fit.width, fit.height};
}

bool UILabel::drawsOnlyReportedState() const { return typeid(*this) == typeid(UILabel); }

void UILabel::renderSelf(TextCanvas& canvas) const {
  if (!text_ || text_->empty()) return;
  std::istringstream in(*text_);
  for (std::string paragraph; std::getline(in, paragraph);) canvas.line(paragraph);
}
