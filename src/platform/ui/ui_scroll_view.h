#pragma once

#include <memory>

#include "platform/ui/ui_view.h"

class UIRefreshControl;
class UIScrollView;

// Every method has the platform's default (nothing).
class UIScrollViewDelegate {
 public:
  virtual ~UIScrollViewDelegate() = default;
  virtual void scrollViewDidScroll(UIScrollView&) {}
  virtual void scrollViewWillBeginDragging(UIScrollView&) {}
  virtual void scrollViewDidEndDragging(UIScrollView&, bool /*willDecelerate*/) {}
  virtual void scrollViewWillBeginDecelerating(UIScrollView&) {}
  virtual void scrollViewDidEndDecelerating(UIScrollView&) {}
  virtual void scrollViewDidEndScrollingAnimation(UIScrollView&) {}
};

// A view whose content is larger than itself. Offsets change at once; the end of a movement is
// reported on a later turn of the main run loop, as on the platform: an animated scroll reports
// scrollViewDidEndScrollingAnimation once (several animated scrolls before it is reported give one
// report), a drag that moves reports scrollViewDidEndDecelerating once. A scroll that does not move
// the content reports nothing.
class UIScrollView : public UIView {
 public:
  static std::shared_ptr<UIScrollView> make(CGRect frame = {});
  explicit UIScrollView(CGRect frame = {});
  explicit UIScrollView(const NSCoder&) : UIScrollView(CGRect{}) {}

  std::shared_ptr<UIScrollViewDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(std::weak_ptr<UIScrollViewDelegate> d) { delegate_ = std::move(d); }

  CGPoint contentOffset() const { return contentOffset_; }
  // Not clamped (as on the platform); reports scrollViewDidScroll when the offset changes.
  void setContentOffset(CGPoint offset);
  void setContentOffset(CGPoint offset, bool animated);
  CGSize contentSize() const { return contentSize_; }
  void setContentSize(CGSize s) { contentSize_ = s; }
  UIEdgeInsets contentInset() const { return contentInset_; }
  void setContentInset(UIEdgeInsets i) { contentInset_ = i; }
  // Scrolls as little as needed for `rect` (content coordinates) to be visible, within the content.
  void scrollRectToVisible(CGRect rect, bool animated);

  bool isPagingEnabled() const { return pagingEnabled_; }
  void setPagingEnabled(bool p) { pagingEnabled_ = p; }
  bool isScrollEnabled() const { return scrollEnabled_; }
  void setScrollEnabled(bool s) { scrollEnabled_ = s; }
  bool bounces() const { return bounces_; }
  void setBounces(bool b) { bounces_ = b; }
  bool alwaysBounceVertical() const { return alwaysBounceVertical_; }
  void setAlwaysBounceVertical(bool b) { alwaysBounceVertical_ = b; }
  bool alwaysBounceHorizontal() const { return alwaysBounceHorizontal_; }
  void setAlwaysBounceHorizontal(bool b) { alwaysBounceHorizontal_ = b; }
  bool showsHorizontalScrollIndicator() const { return showsHorizontal_; }
  void setShowsHorizontalScrollIndicator(bool s) { showsHorizontal_ = s; }
  bool showsVerticalScrollIndicator() const { return showsVertical_; }
  void setShowsVerticalScrollIndicator(bool s) { showsVertical_ = s; }
  bool isDragging() const { return dragging_; }
  bool isDecelerating() const { return decelerating_; }

  // The smallest and largest offsets a user can scroll to.
  CGPoint minimumContentOffset() const;
  CGPoint maximumContentOffset() const;

  // The refresh control of the view: the one set here, else the first one among the subviews.
  std::shared_ptr<UIRefreshControl> refreshControl() const;
  void setRefreshControl(std::shared_ptr<UIRefreshControl> control);

  // User input; each is refused (false) when the view cannot take touches or scrolling is off.
  // A drag towards `target`, kept within the content and, with paging, settled on a page.
  bool dragToContentOffset(CGPoint target);
  // A swipe to page `page` (horizontal pages of the view's width; vertical when the content is
  // only as wide as the view).
  bool swipeToPage(int page);
  // Pulls the content down: the refresh control, if any, starts refreshing and sends ValueChanged.
  bool pullToRefresh();

  // The page the offset is on (0 when the view has no width).
  int currentPage() const;
  // The pages the content spans on the axis swipeToPage moves along; at least 1.
  int pageCount() const;

 protected:
  // With horizontal paging, "(page 3/4) #name": the page counted from 1, and the name commands take.
  void renderSelf(TextCanvas& canvas) const override;
  // With paging on, only what lies in the shown page (pages side by side would all print).
  void renderSubviews(TextCanvas& canvas) const override;
  // With paging on, the shown page.
  std::optional<CGRect> shownContentRect() const override;

 private:
  bool isHorizontalPaging() const;
  CGPoint clamp(CGPoint p) const;
  void reportLater(bool animationEnd);

  std::weak_ptr<UIScrollViewDelegate> delegate_;
  CGPoint contentOffset_;
  CGSize contentSize_;
  UIEdgeInsets contentInset_;
  bool pagingEnabled_ = false;
  bool scrollEnabled_ = true;
  bool bounces_ = true;
  bool alwaysBounceVertical_ = false;
  bool alwaysBounceHorizontal_ = false;
  bool showsHorizontal_ = true;
  bool showsVertical_ = true;
  bool dragging_ = false;
  bool decelerating_ = false;
  bool animationEndPending_ = false;
  std::weak_ptr<UIRefreshControl> refreshControl_;
};
