#include "quiz/audio_question_view_controller.h"

#include <cmath>

#include <fmt/core.h>

#include "app/required_outlet.h"
#include "app/ui_view_controller_dorvale.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/run_loop.h"
#include "platform/net/url_session_task.h"
#include "platform/ui/render.h"
#include "platform/ui/url_contents.h"

std::string formatDuration(double seconds) {
  const auto n = static_cast<long long>(std::trunc(seconds));
  const long long minutes = (n / 60) % 60;
  const long long secs = n % 60;
  if (n < 3600) return fmt::format("{:02d}:{:02d}", minutes, secs);
  return fmt::format("{:02d}:{:02d}:{:02d}", n / 3600, minutes, secs);
}

void SoundControlsView::renderSelf(TextCanvas& canvas) const {
  if (sourceURL_) canvas.line("(sound " + sourceURL_->absoluteString() + ")");
}

void SoundControlsView::renderSubviews(TextCanvas& canvas) const {
  UIView::renderSubviews(canvas);
  if (outputFailure_) canvas.line("(no sound output: " + *outputFailure_ + ")");
}

AudioQuestionViewController::~AudioQuestionViewController() {
  if (soundTask_) soundTask_->cancel();
}

void AudioQuestionViewController::viewDidLoad() {
  SimpleQuestionViewController::viewDidLoad();
  auto slider = requiredOutlet(progressSlider, "progressSlider");
  slider->setMinimumValue(0);
  slider->setMaximumValue(100);
  slider->setValue(0);
  requiredOutlet(timeLabel, "timeLabel")->setText(kNoTime);
  const auto& data = quizQuestion()->data();
  auto url = data ? URL::URLWithString(*data) : std::nullopt;
  if (!url) return loadFailed();
  if (auto area = controls()) area->setSourceURL(url);
  // Fetched while the quiz goes on: a slow sound must not hold the whole program.
  std::weak_ptr<AudioQuestionViewController> weak = sharedAs<AudioQuestionViewController>();
  soundTask_ = loadContentsOfURL(*url, kSoundTimeout, [weak](std::optional<Data> bytes, std::optional<NSError>) {
    if (auto self = weak.lock()) self->soundArrived(bytes);
  });
}

void AudioQuestionViewController::soundArrived(const std::optional<Data>& bytes) {
  soundTask_.reset();
  if (bytes) player_ = AVAudioPlayer::initWithData(*bytes);
  if (!player_) return loadFailed();
  player_->setDelegate(sharedAs<AudioQuestionViewController>());
  requiredOutlet(timeLabel, "timeLabel")->setText(formatDuration(0));
}

void AudioQuestionViewController::loadFailed() {
  loadErrorPending_ = true;
  showPendingLoadError();
}

void AudioQuestionViewController::showPendingLoadError() {
  // Only over its own page, and only while no other alert is up: a refused alert would be lost.
  auto v = view();
  if (!loadErrorPending_ || !v || !v->window() || !v->isWithinShownContent() || presentedViewController()) return;
  loadErrorPending_ = false;
  showAlert(*this, NSLocalizedString("audioquestion_audio_load_error"));
}

void AudioQuestionViewController::viewDidAppear(bool animated) {
  SimpleQuestionViewController::viewDidAppear(animated);
  showPendingLoadError();
}

void AudioQuestionViewController::pageDidBecomeCurrent() { showPendingLoadError(); }

std::shared_ptr<SoundControlsView> AudioQuestionViewController::controls() const {
  auto button = playButton.lock();
  return std::dynamic_pointer_cast<SoundControlsView>(button ? button->superview() : nullptr);
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
  // Said once: the first reason stays, as the playing goes on by the clock.
  auto area = controls();
  if (area && !area->outputFailure()) area->setOutputFailure(player_->outputFailure());
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
