#include "platform/frameworks/pk_hud.h"

#include <gtest/gtest.h>

#include "platform/ui/screen_renderer.h"
#include "platform/ui/ui_application.h"
#include "platform/ui/ui_button.h"
#include "platform/ui/ui_view_controller.h"
#include "platform/ui/ui_window.h"

namespace {

class PKHUDTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UIApplication::resetSharedApplication();
    PKHUD::sharedHUD().reset();
    controller_ = std::make_shared<UIViewController>();
    button_ = UIButton::make(CGRectMake(10, 10, 100, 40));
    button_->setTitle("Sign in", UIControlState::Normal);
    controller_->view()->addSubview(button_);
    window_ = UIWindow::make();
    window_->setRootViewController(controller_);
    window_->makeKeyAndVisible();
  }
  void TearDown() override {
    PKHUD::sharedHUD().reset();
    UIApplication::resetSharedApplication();
  }

  std::shared_ptr<UIViewController> controller_;
  std::shared_ptr<UIButton> button_;
  std::shared_ptr<UIWindow> window_;
};

TEST_F(PKHUDTest, AVisibleHUDDrawsItsContentOnTopAndBlocksTouchesWhenAskedTo) {
  auto& hud = PKHUD::sharedHUD();
  hud.setContentView(std::make_shared<PKHUDProgressView>());
  hud.setUserInteractionOnUnderlyingViewsEnabled(false);
  EXPECT_EQ(ScreenRenderer::render(*window_).find("(progress)"), std::string::npos);

  hud.show();
  auto screen = ScreenRenderer::render(*window_);
  EXPECT_NE(screen.find("(progress)"), std::string::npos);
  EXPECT_LT(screen.find("[Sign in]"), screen.find("(progress)"));
  EXPECT_EQ(screen.find("(progress)"), screen.rfind("(progress)")) << "drawn once";
  EXPECT_TRUE(hud.isVisible() && ScreenRenderer::overlayBlocksTouches());
  EXPECT_FALSE(button_->tap());

  // A second show keeps one overlay.
  hud.show();
  screen = ScreenRenderer::render(*window_);
  EXPECT_EQ(screen.find("(progress)"), screen.rfind("(progress)"));
  EXPECT_EQ(hud.showCount(), 2);

  hud.hide(true);
  EXPECT_TRUE(!hud.isVisible() && hud.lastHideAnimated() && !ScreenRenderer::overlayBlocksTouches());
  EXPECT_TRUE(button_->tap());
  EXPECT_EQ(ScreenRenderer::render(*window_).find("(progress)"), std::string::npos);

  // Hiding what is not shown is harmless.
  hud.hide(false);
  EXPECT_EQ(hud.hideCount(), 2);

  hud.setUserInteractionOnUnderlyingViewsEnabled(true);
  hud.show();
  EXPECT_TRUE(!ScreenRenderer::overlayBlocksTouches() && button_->tap());
}

}  // namespace
