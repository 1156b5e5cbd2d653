#include "platform/ui/ui_scroll_view.h"

#include <algorithm>
#include <cmath>
#include <string>

#include <fmt/format.h>

#include "platform/foundation/run_loop.h"
#include "platform/ui/render.h"
#include "platform/ui/ui_refresh_control.h"

std::shared_ptr<UIScrollView> UIScrollView::make(CGRect frame) { return std::make_shared<UIScrollView>(frame); }

UIScrollView::UIScrollView(CGRect frame) : UIView(frame) { setClipsToBounds(true); }

void UIScrollView::setContentOffset(CGPoint offset) {
  if (offset == contentOffset_) return;
  contentOffset_ = offset;
  if (auto d = delegate()) d->scrollViewDidScroll(*this);
}

void UIScrollView::setContentOffset(CGPoint offset, bool animated) {
  if (offset == contentOffset_) return;
  setContentOffset(offset);
  if (animated) reportLater(true);
}

CGPoint UIScrollView::minimumContentOffset() const { return {-contentInset_.left, -contentInset_.top}; }

CGPoint UIScrollView::maximumContentOffset() const {
  CGPoint lo = minimumContentOffset();
  CGSize b = bounds().size;
  return {std::max(lo.x, contentSize_.width + contentInset_.right - b.width),
          std::max(lo.y, contentSize_.height + contentInset_.bottom - b.height)};
}

CGPoint UIScrollView::clamp(CGPoint p) const {
  CGPoint lo = minimumContentOffset(), hi = maximumContentOffset();
  return {std::clamp(p.x, lo.x, hi.x), std::clamp(p.y, lo.y, hi.y)};
}

void UIScrollView::scrollRectToVisible(CGRect rect, bool animated) {
  CGSize b = bounds().size;
  CGPoint target = contentOffset_;
  auto axis = [](CGFloat rectMin, CGFloat rectLen, CGFloat visMin, CGFloat visLen) {
    if (rectMin < visMin || rectLen > visLen) return rectMin;
    if (rectMin + rectLen > visMin + visLen) return rectMin + rectLen - visLen;
    return visMin;
  };
  target.x = axis(rect.origin.x, rect.size.width, contentOffset_.x, b.width);
  target.y = axis(rect.origin.y, rect.size.height, contentOffset_.y, b.height);
  setContentOffset(clamp(target), animated);
}

bool UIScrollView::isHorizontalPaging() const { return contentSize_.width > bounds().size.width; }

int UIScrollView::currentPage() const {
  CGSize b = bounds().size;
  double page = 0;
  if (isHorizontalPaging()) {
    page = b.width > 0 ? contentOffset_.x / b.width : 0;
  } else {
    page = b.height > 0 ? contentOffset_.y / b.height : 0;
  }
  // Offsets are set freely in code: keep absurd ones from overflowing the page number.
  if (std::isnan(page)) return 0;
  return static_cast<int>(std::clamp(page, -1e9, 1e9));
}

int UIScrollView::pageCount() const {
  CGSize b = bounds().size;
  double pages = 1;
  if (isHorizontalPaging()) {
    if (b.width > 0) pages = std::ceil(contentSize_.width / b.width);
  } else if (b.height > 0) {
    pages = std::ceil(contentSize_.height / b.height);
  }
  if (std::isnan(pages)) return 1;
  return static_cast<int>(std::clamp(pages, 1.0, 1e9));
}

bool UIScrollView::dragToContentOffset(CGPoint target) {
  if (!scrollEnabled_ || !canReceiveTouches()) return false;
  auto keep = weak_from_this().lock();
  CGPoint settled = clamp(target);
  CGSize b = bounds().size;
  if (pagingEnabled_) {
    if (b.width > 0) settled.x = std::round(settled.x / b.width) * b.width;
    if (b.height > 0) settled.y = std::round(settled.y / b.height) * b.height;
    settled = clamp(settled);
  }
  dragging_ = true;
  if (auto d = delegate()) d->scrollViewWillBeginDragging(*this);
  bool moves = settled != contentOffset_;
  setContentOffset(settled);
  dragging_ = false;
  if (auto d = delegate()) d->scrollViewDidEndDragging(*this, moves);
  if (moves) {
    decelerating_ = true;
    if (auto d = delegate()) d->scrollViewWillBeginDecelerating(*this);
    reportLater(false);
  }
  return true;
}

bool UIScrollView::swipeToPage(int page) {
  CGSize b = bounds().size;
  if (isHorizontalPaging()) return dragToContentOffset(CGPoint{page * b.width, contentOffset_.y});
  return dragToContentOffset(CGPoint{contentOffset_.x, page * b.height});
}

void UIScrollView::reportLater(bool animationEnd) {
  if (animationEnd) {
    if (animationEndPending_) return;
    animationEndPending_ = true;
  }
  std::weak_ptr<UIResponder> weakSelf = weak_from_this();
  RunLoop::main().post([weakSelf, animationEnd] {
    auto self = std::static_pointer_cast<UIScrollView>(weakSelf.lock());
    if (!self) return;
    if (animationEnd) {
      self->animationEndPending_ = false;
      if (auto d = self->delegate()) d->scrollViewDidEndScrollingAnimation(*self);
    } else {
      self->decelerating_ = false;
      if (auto d = self->delegate()) d->scrollViewDidEndDecelerating(*self);
    }
  });
}

std::shared_ptr<UIRefreshControl> UIScrollView::refreshControl() const {
  if (auto rc = refreshControl_.lock()) return rc;
  for (const auto& s : subviews()) {
    if (auto rc = std::dynamic_pointer_cast<UIRefreshControl>(s)) return rc;
  }
  return nullptr;
}

void UIScrollView::setRefreshControl(std::shared_ptr<UIRefreshControl> control) {
  if (auto old = refreshControl_.lock(); old && old != control) old->removeFromSuperview();
  refreshControl_ = control;
  if (control) addSubview(control);
}

bool UIScrollView::pullToRefresh() {
  if (!scrollEnabled_ || !canReceiveTouches()) return false;
  auto rc = refreshControl();
  return rc && rc->pull();
}

void UIScrollView::renderSelf(TextCanvas& canvas) const {
  CGSize b = bounds().size;
  if (!pagingEnabled_ || !isHorizontalPaging() || b.width <= 0) return;
  std::string line = fmt::format("(page {}/{})", currentPage() + 1, pageCount());
  if (!accessibilityIdentifier().empty()) line += " #" + accessibilityIdentifier();
  canvas.line(line);
}

std::optional<CGRect> UIScrollView::shownContentRect() const {
  CGSize b = bounds().size;
  if (!pagingEnabled_ || b.width <= 0 || b.height <= 0) return std::nullopt;
  return CGRect{contentOffset_, b};
}

void UIScrollView::renderSubviews(TextCanvas& canvas) const {
  auto shown = shownContentRect();
  if (!shown) return UIView::renderSubviews(canvas);
  renderSubviewsWithin(canvas, *shown);
}
