#include "platform/ui/av_audio_player.h"

#include <algorithm>

#include "platform/foundation/run_loop.h"
#include "platform/ui/alsa_audio_output.h"

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

AVAudioPlayer::AVAudioPlayer(Data data, SoundFormat format) : data_(std::move(data)), format_(std::move(format)) {}

AVAudioPlayer::~AVAudioPlayer() {
  if (endTimer_) endTimer_->invalidate();
}

TimeInterval AVAudioPlayer::clockTime() const {
  return std::min(duration(), offset_ + Date::now().timeIntervalSinceDate(startedAt_));
}

TimeInterval AVAudioPlayer::currentTime() const {
  if (!playing_) return offset_;
  TimeInterval time = clockTime();
  if (output_) {
    const auto progress = output_->progress();
    // Until the device answers, the clock; where it failed, the clock alone.
    if (progress.device == AlsaAudioOutput::Progress::Device::Open && format_.sampleRate > 0)
      time = std::min(time, static_cast<double>(progress.heardFrame) / format_.sampleRate);
  }
  shown_ = std::max(shown_, time);
  return shown_;
}

std::optional<std::string> AVAudioPlayer::outputFailure() const {
  if (!output_) return std::nullopt;
  auto progress = output_->progress();
  if (progress.device != AlsaAudioOutput::Progress::Device::Failed) return std::nullopt;
  return std::move(progress.failure);
}

bool AVAudioPlayer::play() {
  if (playing_) return true;
  playing_ = true;
  startedAt_ = Date::now();
  shown_ = offset_;
  scheduleEnd();
  startOutput();
  return true;
}

void AVAudioPlayer::pause() {
  if (!playing_) return;
  offset_ = currentTime();
  playing_ = false;
  endDue_ = false;
  if (auto timer = std::exchange(endTimer_, nullptr)) timer->invalidate();
  if (output_) output_->stop();
}

void AVAudioPlayer::setCurrentTime(TimeInterval time) {
  offset_ = std::clamp(time, 0.0, duration());
  shown_ = offset_;
  if (!playing_) return;
  startedAt_ = Date::now();
  scheduleEnd();
  startOutput();
}

void AVAudioPlayer::startOutput() {
  if (!output_) {
    std::weak_ptr<AVAudioPlayer> weak = weak_from_this();
    output_ = std::make_unique<AlsaAudioOutput>(data_, format_, AlsaAudioOutput::configuredDevice(), [weak] {
      RunLoop::main().post([weak] {
        if (auto self = weak.lock()) self->finishIfHeard();
      });
    });
  }
  output_->play(static_cast<std::int64_t>(offset_ * format_.sampleRate));
}

void AVAudioPlayer::scheduleEnd() {
  if (endTimer_) endTimer_->invalidate();
  endDue_ = false;
  std::weak_ptr<AVAudioPlayer> weak = weak_from_this();
  endTimer_ = RunLoop::main().scheduledTimer(duration() - offset_, false, [weak](Timer&) {
    if (auto self = weak.lock()) {
      self->endDue_ = true;
      self->finishIfHeard();
    }
  });
}

void AVAudioPlayer::finishIfHeard() {
  if (!endDue_) return;
  // A device still playing its last buffers ends the sound; one that is still opening does not.
  if (output_) {
    const auto progress = output_->progress();
    if (progress.device == AlsaAudioOutput::Progress::Device::Open && !progress.drained) return;
  }
  finish();
}

void AVAudioPlayer::finish() {
  playing_ = false;
  offset_ = 0;
  endDue_ = false;
  endTimer_.reset();
  if (output_) output_->stop();
  if (auto delegate = delegate_.lock()) delegate->audioPlayerDidFinishPlaying(*this, true);
}
