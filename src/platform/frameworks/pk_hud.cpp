#include "platform/frameworks/pk_hud.h"

#include "platform/ui/render.h"
#include "platform/ui/screen_renderer.h"
#include "platform/ui/ui_application.h"
#include "platform/ui/ui_window.h"

namespace {

// Sits on top of the key window and keeps touches from what lies beneath. It draws nothing in the
// window's tree: the HUD draws as a screen overlay, above presented controllers too.
class PKHUDContainerView : public UIView {
 public:
  explicit PKHUDContainerView(const PKHUD& hud) : hud_(hud) { mayBlockTouchesBeneath(); }
  bool blocksTouchesBeneath() const override { return !hud_.userInteractionOnUnderlyingViewsEnabled(); }
  void render(TextCanvas&) const override {}

 private:
  const PKHUD& hud_;
};

}  // namespace

void PKHUDProgressView::renderSelf(TextCanvas& canvas) const { canvas.line("(progress)"); }

PKHUD& PKHUD::sharedHUD() {
  // Never destroyed: the overlay registration refers to it until the process ends.
  static auto* hud = new PKHUD();
  return *hud;
}

PKHUD::PKHUD() : container_(std::make_shared<PKHUDContainerView>(*this)) {
  ScreenRenderer::registerOverlay("PKHUD", {[this](TextCanvas& canvas) {
                                              if (!visible_) return;
                                              if (contentView_) {
                                                contentView_->render(canvas);
                                              } else {
                                                canvas.line("(HUD)");
                                              }
                                            },
                                            [this] { return visible_ && !underlyingInteraction_; }});
}

void PKHUD::setContentView(std::shared_ptr<UIView> view) {
  if (contentView_) contentView_->removeFromSuperview();
  contentView_ = std::move(view);
  if (contentView_) container_->addSubview(contentView_);
}

void PKHUD::attach() {
  auto window = UIApplication::sharedApplication()->keyWindow();
  if (!window) return;
  container_->setFrame(window->bounds());
  if (container_->superview() == window) {
    window->bringSubviewToFront(container_);
  } else {
    window->addSubview(container_);
  }
}

void PKHUD::show() {
  ++showCount_;
  visible_ = true;
  attach();
}

void PKHUD::hide(bool animated) {
  ++hideCount_;
  lastHideAnimated_ = animated;
  visible_ = false;
  container_->removeFromSuperview();
}

void PKHUD::reset() {
  hide(false);
  setContentView(nullptr);
  underlyingInteraction_ = true;
  showCount_ = hideCount_ = 0;
  lastHideAnimated_ = false;
}
