#include "quiz/video_question_view_controller.h"

#include <cstdlib>

#include "app/required_outlet.h"
#include "platform/ui/ns_layout_constraint.h"
#include "platform/ui/ui_device.h"
#include "quiz/quiz_support.h"

void QuestionPlayerViewController::touchesCancelled(const std::vector<UITouch>& touches, const UIEvent* event) {
  AVPlayerViewController::touchesCancelled(touches, event);
  if (!showsPlaybackControls()) setShowsPlaybackControls(true);
}

void VideoQuestionViewController::viewDidLoad() {
  SimpleQuestionViewController::viewDidLoad();
  const auto& data = quizQuestion()->data();
  auto url = data ? URL::URLWithString(*data) : std::nullopt;
  // Without a URL there is no player, and nothing is embedded.
  if (!url) return;
  playerVC_ = std::make_shared<QuestionPlayerViewController>();
  playerVC_->setPlayer(AVPlayer::make(*url));
  playerVC_->setShowsPlaybackControls(false);
  if (std::atof(UIDevice::currentDevice()->systemVersion().c_str()) >= 9.0)
    playerVC_->setAllowsPictureInPicturePlayback(false);
}

void VideoQuestionViewController::viewDidAppear(bool animated) {
  SimpleQuestionViewController::viewDidAppear(animated);
  // Embedded at the first appearance; later ones find the same player in place.
  if (!playerVC_ || playerVC_->parentViewController().get() == this) return;
  auto container = requiredOutlet(videoPlayerViewContainer, "videoPlayerViewContainer");
  addChildViewController(playerVC_);
  auto playerView = playerVC_->view();
  container->addSubview(playerView);
  // The container's own coordinates: its frame would misplace the player unless it sits at (0, 0).
  playerView->setFrame(container->bounds());
  playerView->setTranslatesAutoresizingMaskIntoConstraints(false);
  container->addConstraints(edgeConstraints(
      playerView, container,
      {NSLayoutAttribute::Top, NSLayoutAttribute::Bottom, NSLayoutAttribute::Trailing, NSLayoutAttribute::Leading}));
  playerVC_->didMoveToParentViewController(sharedAs<UIViewController>());
}
