#pragma once

#include <memory>
#include <optional>

#include "platform/ui/ns_attributed_string.h"
#include "platform/ui/ui_control.h"

// The pull-to-refresh spinner of a scroll view. Starting or ending it in code sends nothing; a
// user's pull starts it and sends ValueChanged.
class UIRefreshControl : public UIControl {
 public:
  static std::shared_ptr<UIRefreshControl> make();
  UIRefreshControl();
  explicit UIRefreshControl(const NSCoder&) : UIRefreshControl() {}

  bool isRefreshing() const { return refreshing_; }
  void beginRefreshing() { refreshing_ = true; }
  void endRefreshing() { refreshing_ = false; }
  const std::optional<NSAttributedString>& attributedTitle() const { return attributedTitle_; }
  void setAttributedTitle(std::optional<NSAttributedString> t) { attributedTitle_ = std::move(t); }

  // The user's pull: refused while refreshing already, when disabled or untouchable.
  bool pull();

 protected:
  void renderSelf(TextCanvas& canvas) const override;

 private:
  bool refreshing_ = false;
  std::optional<NSAttributedString> attributedTitle_;
};
