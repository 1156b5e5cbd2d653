#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/data.h"
#include "platform/foundation/url.h"
#include "platform/ui/av_audio_player.h"
#include "platform/ui/ca_display_link.h"
#include "platform/ui/ui_button.h"
#include "platform/ui/ui_label.h"
#include "platform/ui/ui_slider.h"
#include "quiz/simple_question_view_controller.h"

class URLSessionDataTask;

// The row of the sound's controls. It names the sound it plays above them and, where no sound is
// heard, why, below them.
class SoundControlsView : public UIView {
 public:
  using UIView::UIView;
  void setSourceURL(std::optional<URL> url) { sourceURL_ = std::move(url); }
  const std::optional<std::string>& outputFailure() const { return outputFailure_; }
  void setOutputFailure(std::optional<std::string> why) { outputFailure_ = std::move(why); }

 protected:
  void renderSelf(TextCanvas& canvas) const override;
  void renderSubviews(TextCanvas& canvas) const override;

 private:
  std::optional<URL> sourceURL_;
  std::optional<std::string> outputFailure_;
};

// A question whose material is the sound at the URL in the question's data: fetched while the
// quiz goes on (the time label shows kNoTime and the controls do nothing until it is in), played
// with `playButton`, followed by `progressSlider` (per cent of the duration) and `timeLabel`, and
// sought by dragging the slider. A sound that cannot be had is reported once, on its page; a sound
// that plays where no device takes it says so under the controls.
class AudioQuestionViewController : public SimpleQuestionViewController, public AVAudioPlayerDelegate {
 public:
  // Bounds the wait for a sound that does not come.
  static constexpr TimeInterval kSoundTimeout = 15;
  static constexpr const char* kNoTime = "--:--";

  AudioQuestionViewController() = default;
  explicit AudioQuestionViewController(const NSCoder& coder) : SimpleQuestionViewController(coder) {}
  ~AudioQuestionViewController() override;

  void viewDidLoad() override;
  void viewDidAppear(bool animated) override;
  void viewWillDisappear(bool animated) override;
  void playButtonTap(UIControl& sender);
  void trackAudio();
  void progressSliderValueChanged(UIControl& sender, const UIEvent* event);
  void audioPlayerDidFinishPlaying(AVAudioPlayer& player, bool successfully) override;
  void pageDidBecomeCurrent() override;

  const std::shared_ptr<CADisplayLink>& updater() const { return updater_; }
  // Nothing until the sound is in, nor when it could not be had.
  const std::shared_ptr<AVAudioPlayer>& player() const { return player_; }

  std::weak_ptr<UIButton> playButton;
  std::weak_ptr<UISlider> progressSlider;
  std::weak_ptr<UILabel> timeLabel;

 private:
  void soundArrived(const std::optional<Data>& bytes);
  void loadFailed();
  void showPendingLoadError();
  void startUpdater(int frameInterval);
  std::shared_ptr<SoundControlsView> controls() const;

  std::shared_ptr<CADisplayLink> updater_;
  std::shared_ptr<AVAudioPlayer> player_;
  std::shared_ptr<URLSessionDataTask> soundTask_;
  bool loadErrorPending_ = false;
};

// "mm:ss" below an hour, "hh:mm:ss" from then on, of the whole seconds of `seconds`.
std::string formatDuration(double seconds);
