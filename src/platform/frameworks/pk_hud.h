#pragma once

#include <memory>

#include "platform/ui/ui_view.h"

// The progress view a HUD shows: a spinner.
class PKHUDProgressView : public UIView {
 public:
  PKHUDProgressView() = default;

 protected:
  void renderSelf(TextCanvas& canvas) const override;
};

// The progress overlay framework: one shared HUD over the key window with a content view. While
// it is visible and touches may not reach the views beneath, every tap on them is refused (the
// toolkit's tap helpers and the console driver alike). Shows and hides happen at once; the
// animation flag is only recorded. Main thread only.
class PKHUD {
 public:
  static PKHUD& sharedHUD();

  std::shared_ptr<UIView> contentView() const { return contentView_; }
  void setContentView(std::shared_ptr<UIView> view);

  // True by default, as in the framework.
  bool userInteractionOnUnderlyingViewsEnabled() const { return underlyingInteraction_; }
  void setUserInteractionOnUnderlyingViewsEnabled(bool enabled) { underlyingInteraction_ = enabled; }

  bool isVisible() const { return visible_; }
  // Shows over the current key window; when already visible it moves above whatever came since.
  void show();
  void hide(bool animated = true);

  // Counters and the last hide's flag, for tests.
  int showCount() const { return showCount_; }
  int hideCount() const { return hideCount_; }
  bool lastHideAnimated() const { return lastHideAnimated_; }
  // Hidden, default options, no content, counters at zero (between tests).
  void reset();

 private:
  PKHUD();
  void attach();

  std::shared_ptr<UIView> container_;
  std::shared_ptr<UIView> contentView_;
  bool underlyingInteraction_ = true;
  bool visible_ = false;
  int showCount_ = 0;
  int hideCount_ = 0;
  bool lastHideAnimated_ = false;
};
