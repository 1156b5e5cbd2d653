#pragma once

#include <functional>
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

// A question whose material is the sound at the URL in the question's data: fetched whole while
// the screen loads, played with `playButton`, followed by `progressSlider` (per cent of the
// duration) and `timeLabel`, and sought by dragging the slider.
class AudioQuestionViewController : public SimpleQuestionViewController, public AVAudioPlayerDelegate {
 public:
  // Reads the bytes at a URL while the caller waits; nothing on any failure.
  using SoundLoader = std::function<std::optional<Data>(const URL&)>;
  // Bounds the wait for a sound: the screen loads on the main thread.
  static constexpr TimeInterval kSoundTimeout = 15;
  // Replaces the loader of every later screen; an empty one restores the network's.
  static void setSoundLoader(SoundLoader loader);

  AudioQuestionViewController() = default;
  explicit AudioQuestionViewController(const NSCoder& coder) : SimpleQuestionViewController(coder) {}

  void viewDidLoad() override;
  void viewDidAppear(bool animated) override;
  void viewWillDisappear(bool animated) override;
  void playButtonTap(UIControl& sender);
  void trackAudio();
  void progressSliderValueChanged(UIControl& sender, const UIEvent* event);
  void audioPlayerDidFinishPlaying(AVAudioPlayer& player, bool successfully) override;

  const std::shared_ptr<CADisplayLink>& updater() const { return updater_; }
  // Nothing when the sound could not be had.
  const std::shared_ptr<AVAudioPlayer>& player() const { return player_; }

  std::weak_ptr<UIButton> playButton;
  std::weak_ptr<UISlider> progressSlider;
  std::weak_ptr<UILabel> timeLabel;

 private:
  void startUpdater(int frameInterval);
  void showLoadError();

  std::shared_ptr<CADisplayLink> updater_;
  std::shared_ptr<AVAudioPlayer> player_;
  bool loadErrorPending_ = false;
};

// "mm:ss" below an hour, "hh:mm:ss" from then on, of the whole seconds of `seconds`.
std::string formatDuration(double seconds);
