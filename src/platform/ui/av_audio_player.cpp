#include "platform/ui/av_audio_player.h"

#include <algorithm>

#include "platform/foundation/run_loop.h"

std::shared_ptr<AVAudioPlayer> AVAudioPlayer::initWithData(const Data& data, std::optional<NSError>* outError) {
  auto format = decodeSound(data);
  if (!format) {
    if (outError) {
      *outError = NSError(NSOSStatusErrorDomain, kAudioFileUnsupportedFileTypeError,
                          {{NSLocalizedFailureReasonErrorKey, format.error()}});
    }
    return nullptr;
  }
  if (outError) outError->reset();
  return std::make_shared<AVAudioPlayer>(data, *format);
}

AVAudioPlayer::~AVAudioPlayer() {
  if (endTimer_) endTimer_->invalidate();
}

TimeInterval AVAudioPlayer::currentTime() const {
  if (!playing_) return offset_;
  return std::min(duration(), offset_ + Date::now().timeIntervalSinceDate(startedAt_));
}

bool AVAudioPlayer::play() {
  if (playing_) return true;
  playing_ = true;
  startedAt_ = Date::now();
  scheduleEnd();
  return true;
}

void AVAudioPlayer::pause() {
  if (!playing_) return;
  offset_ = currentTime();
  playing_ = false;
  if (auto timer = std::exchange(endTimer_, nullptr)) timer->invalidate();
}

void AVAudioPlayer::setCurrentTime(TimeInterval time) {
  offset_ = std::clamp(time, 0.0, duration());
  if (!playing_) return;
  startedAt_ = Date::now();
  scheduleEnd();
}

void AVAudioPlayer::scheduleEnd() {
  if (endTimer_) endTimer_->invalidate();
  std::weak_ptr<AVAudioPlayer> weak = weak_from_this();
  endTimer_ = RunLoop::main().scheduledTimer(duration() - offset_, false, [weak](Timer&) {
    if (auto self = weak.lock()) self->finish();
  });
}

void AVAudioPlayer::finish() {
  playing_ = false;
  offset_ = 0;
  endTimer_.reset();
  if (auto delegate = delegate_.lock()) delegate->audioPlayerDidFinishPlaying(*this, true);
}
