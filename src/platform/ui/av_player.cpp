#include "platform/ui/av_player.h"

#include <algorithm>

#include "platform/ui/render.h"
#include "platform/ui/ui_button.h"
#include "platform/ui/ui_gesture_recognizer.h"
#include "platform/ui/ui_screen.h"
#include "platform/ui/ui_view.h"

namespace {

constexpr CGFloat kControlsHeight = 44;

// The picture, read from the controller's state at each rendering so that a later setPlayer or play
// shows. Like the platform's player it handles touches with a recogniser of its own, so a tap on it
// reaches the controller cancelled.
class PictureView : public UIView {
 public:
  PictureView(CGRect frame, std::weak_ptr<AVPlayerViewController> controller)
      : UIView(frame), controller_(std::move(controller)) {
    setAccessibilityIdentifier(AVPlayerViewController::kPictureName);
  }

 protected:
  void renderSelf(TextCanvas& canvas) const override {
    auto controller = controller_.lock();
    if (!controller || !controller->player()) return;
    const AVPlayer& player = *controller->player();
    std::string text = "(video " + player.url().absoluteString() + (player.isPlaying() ? ", playing" : ", paused");
    if (!controller->showsPlaybackControls()) text += ", no controls";
    canvas.line(text + ") #" + accessibilityIdentifier());
  }

 private:
  std::weak_ptr<AVPlayerViewController> controller_;
};

// The picture with the playback controls beneath it: one button that plays or pauses.
class PlayerView : public UIView {
 public:
  PlayerView(CGRect frame, std::weak_ptr<AVPlayerViewController> controller)
      : UIView(frame), controller_(std::move(controller)) {}

  static std::shared_ptr<PlayerView> make(CGRect frame, const std::shared_ptr<AVPlayerViewController>& controller) {
    auto view = std::make_shared<PlayerView>(frame, controller);
    view->picture_ = std::make_shared<PictureView>(frame, controller);
    view->picture_->addGestureRecognizer(UITapGestureRecognizer::make());
    view->addSubview(view->picture_);
    view->playback_ = UIButton::make();
    view->playback_->setAccessibilityIdentifier(AVPlayerViewController::kPlaybackButtonName);
    std::weak_ptr<PlayerView> weak = view;
    view->playback_->addTarget(
        [weak](UIControl&, const UIEvent*) {
          if (auto self = weak.lock()) self->togglePlayback();
        },
        UIControlEvents::TouchUpInside);
    view->addSubview(view->playback_);
    view->layoutSubviews();
    return view;
  }

  void layoutSubviews() override {
    const CGRect area = bounds();
    const CGFloat pictureHeight = std::max<CGFloat>(0, area.size.height - kControlsHeight);
    picture_->setFrame(CGRectMake(0, 0, area.size.width, pictureHeight));
    playback_->setFrame(CGRectMake(0, pictureHeight, area.size.width, kControlsHeight));
    refreshControls();
  }

  void refreshControls() {
    auto controller = controller_.lock();
    const auto player = controller ? controller->player() : nullptr;
    playback_->setHidden(!player || !controller->showsPlaybackControls());
    playback_->setTitle(player && player->isPlaying() ? "Pause" : "Play", UIControlState::Normal);
  }

 private:
  void togglePlayback() {
    auto controller = controller_.lock();
    if (const auto player = controller ? controller->player() : nullptr)
      player->isPlaying() ? player->pause() : player->play();
    refreshControls();
  }

  std::shared_ptr<PictureView> picture_;
  std::shared_ptr<UIButton> playback_;
  std::weak_ptr<AVPlayerViewController> controller_;
};

}  // namespace

void AVPlayerViewController::setShowsPlaybackControls(bool shows) {
  showsPlaybackControls_ = shows;
  if (auto view = std::dynamic_pointer_cast<PlayerView>(viewIfLoaded())) view->refreshControls();
}

void AVPlayerViewController::loadView() {
  setView(PlayerView::make(UIScreen::mainScreen()->bounds(), sharedAs<AVPlayerViewController>()));
}
