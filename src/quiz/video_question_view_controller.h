#pragma once

#include <memory>

#include "platform/ui/av_player.h"
#include "quiz/simple_question_view_controller.h"

// The application's player controller: the first touch it cancels reveals the playback controls,
// and nothing hides them again.
class QuestionPlayerViewController : public AVPlayerViewController {
 public:
  using AVPlayerViewController::AVPlayerViewController;
  void touchesCancelled(const std::vector<UITouch>& touches, const UIEvent* event) override;
};

// A question whose material is the video at the URL in the question's data, in a player embedded
// in `videoPlayerViewContainer`. Nothing starts playback but the player's own controls.
class VideoQuestionViewController : public SimpleQuestionViewController {
 public:
  VideoQuestionViewController() = default;
  explicit VideoQuestionViewController(const NSCoder& coder) : SimpleQuestionViewController(coder) {}

  void viewDidLoad() override;
  void viewDidAppear(bool animated) override;

  // Nothing when the question's data makes no URL.
  const std::shared_ptr<AVPlayerViewController>& playerVC() const { return playerVC_; }
  void setPlayerVC(std::shared_ptr<AVPlayerViewController> controller) { playerVC_ = std::move(controller); }

  std::weak_ptr<UIView> videoPlayerViewContainer;

 private:
  std::shared_ptr<AVPlayerViewController> playerVC_;
};
