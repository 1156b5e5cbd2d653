#include "quiz/audio_question_view_controller.h"

#include <cmath>

#include <fmt/core.h>

#include "app/required_outlet.h"
#include "app/ui_view_controller_dorvale.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/run_loop.h"
#include "platform/ui/url_contents.h"

namespace {

AudioQuestionViewController::SoundLoader& soundLoader() {
  static AudioQuestionViewController::SoundLoader loader;
  return loader;
}

std::optional<Data> loadSound(const URL& url) {
  if (soundLoader()) return soundLoader()(url);
  return dataWithContentsOfURL(url, AudioQuestionViewController::kSoundTimeout);
}

}  // namespace

std::string formatDuration(double seconds) {
  const auto n = static_cast<long long>(std::trunc(seconds));
  const long long minutes = (n / 60) % 60;
  const long long secs = n % 60;
  if (n < 3600) return fmt::format("{:02d}:{:02d}", minutes, secs);
  return fmt::format("{:02d}:{:02d}:{:02d}", n / 3600, minutes, secs);
}

void AudioQuestionViewController::setSoundLoader(SoundLoader loader) { soundLoader() = std::move(loader); }

void AudioQuestionViewController::viewDidLoad() {
  SimpleQuestionViewController::viewDidLoad();
  auto slider = requiredOutlet(progressSlider, "progressSlider");
  slider->setMinimumValue(0);
  slider->setMaximumValue(100);
  slider->setValue(0);
  requiredOutlet(timeLabel, "timeLabel")->setText("00:00");
  const auto& data = quizQuestion()->data();
  auto url = data ? URL::URLWithString(*data) : std::nullopt;
  auto bytes = url ? loadSound(*url) : std::nullopt;
  if (bytes) player_ = AVAudioPlayer::initWithData(*bytes);
  if (player_) {
    player_->setDelegate(sharedAs<AudioQuestionViewController>());
    return;
  }
  // A screen loads before its page is in the window: the alert waits for it to appear.
  if (auto v = view(); v && v->window()) {
    showLoadError();
  } else {
    loadErrorPending_ = true;
  }
}

void AudioQuestionViewController::showLoadError() {
  loadErrorPending_ = false;
  showAlert(*this, NSLocalizedString("audioquestion_audio_load_error"));
}

void AudioQuestionViewController::viewDidAppear(bool animated) {
  SimpleQuestionViewController::viewDidAppear(animated);
  if (loadErrorPending_) showLoadError();
}

void AudioQuestionViewController::startUpdater(int frameInterval) {
  // A link left valid would go on ticking beside its successor.
  if (updater_) updater_->invalidate();
  std::weak_ptr<AudioQuestionViewController> weak = sharedAs<AudioQuestionViewController>();
  updater_ = CADisplayLink::make(weak.lock(), [weak](CADisplayLink&) {
    if (auto self = weak.lock()) self->trackAudio();
  });
  updater_->setFrameInterval(frameInterval);
  updater_->addToRunLoop(RunLoop::main(), NSRunLoopCommonModes);
}

void AudioQuestionViewController::playButtonTap(UIControl&) {
  if (!player_) return;
  auto button = requiredOutlet(playButton, "playButton");
  button->setSelected(!button->isSelected());
  if (button->isSelected()) {
    startUpdater(2);
    player_->prepareToPlay();
    player_->play();
  } else {
    player_->pause();
    if (updater_) updater_->invalidate();
  }
}

void AudioQuestionViewController::trackAudio() {
  if (!player_) return;
  const double duration = player_->duration();
  const double progress = duration > 0 ? player_->currentTime() * 100.0 / duration : 0;
  requiredOutlet(progressSlider, "progressSlider")->setValue(static_cast<float>(progress));
  requiredOutlet(timeLabel, "timeLabel")->setText(formatDuration(player_->currentTime()));
}

void AudioQuestionViewController::progressSliderValueChanged(UIControl&, const UIEvent* event) {
  if (!event || event->allTouches.empty() || !player_) return;
  auto slider = requiredOutlet(progressSlider, "progressSlider");
  const double position = slider->value() / 100.0 * player_->duration();
  switch (event->allTouches.front().phase) {
    case UITouch::Phase::Began:
      if (!updater_) return;
      updater_->invalidate();
      player_->pause();
      requiredOutlet(playButton, "playButton")->setSelected(false);
      break;
    case UITouch::Phase::Moved: requiredOutlet(timeLabel, "timeLabel")->setText(formatDuration(position)); break;
    case UITouch::Phase::Ended:
      player_->setCurrentTime(position);
      player_->play();
      requiredOutlet(playButton, "playButton")->setSelected(true);
      startUpdater(1);
      break;
    default: break;
  }
}

void AudioQuestionViewController::audioPlayerDidFinishPlaying(AVAudioPlayer&, bool) {
  requiredOutlet(playButton, "playButton")->setSelected(false);
  if (updater_) updater_->invalidate();
}

void AudioQuestionViewController::viewWillDisappear(bool animated) {
  SimpleQuestionViewController::viewWillDisappear(animated);
  if (player_) player_->stop();
  if (updater_) updater_->invalidate();
}
