#include "platform/ui/alsa_audio_output.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include <fmt/core.h>

namespace {

using Progress = AlsaAudioOutput::Progress;

// How much sound the device holds ahead of what is heard: short, so that a pause is heard soon.
constexpr unsigned kLatencyMicroseconds = 100000;
constexpr snd_pcm_uframes_t kMaxChunkFrames = 4096;
// How often a draining device is asked how much it still holds.
constexpr auto kDrainPoll = std::chrono::milliseconds(10);

struct PcmClose {
  void operator()(snd_pcm_t* pcm) const { snd_pcm_close(pcm); }
};
using Pcm = std::unique_ptr<snd_pcm_t, PcmClose>;

// The library writes its own complaints to stderr, over the console's screen; the player reports
// the one that matters under its controls instead.
void quietAlsaErrorHandler(const char*, int, const char*, int, const char*, ...) {}

void silenceAlsaErrors() {
  static std::once_flag once;
  std::call_once(once, [] { snd_lib_error_set_handler(&quietAlsaErrorHandler); });
}

}  // namespace

struct AlsaAudioOutput::Shared {
  Shared(Data bytes, SoundFormat f, std::string name, std::function<void()> notify)
      : data(std::move(bytes)), format(std::move(f)), device(std::move(name)), changed(std::move(notify)) {}

  Data data;  // the thread's to take
  const SoundFormat format;
  const std::string device;
  const std::function<void()> changed;

  std::mutex mutex;
  std::condition_variable wake;
  // Commands, under `mutex`: each play() or stop() is a new generation.
  std::uint64_t generation = 0;
  bool playing = false;
  std::int64_t startFrame = 0;
  bool ended = false;
  // Reports of the current generation, under `mutex`.
  Progress progress;
};

namespace {

using Shared = AlsaAudioOutput::Shared;

// What one generation asks of the thread.
struct Command {
  std::uint64_t generation = 0;
  bool playing = false;
  std::int64_t startFrame = 0;
};

// The thread's side: the device, the decoder and how far the current play has got.
class Feeder {
 public:
  explicit Feeder(std::shared_ptr<Shared> shared)
      : s_(std::move(shared)),
        decoder_(std::move(s_->data)),
        buffer_(kMaxChunkFrames * std::max(1, s_->format.channels)) {}

  void run() {
    silenceAlsaErrors();
    while (auto command = nextCommand()) {
      if (command->generation != current_.generation) begin(*command);
      if (current_.playing && pcm_ && !drained_) feed();
    }
  }

 private:
  // Waits for work: a new command, or, while playing, the next step. Nothing once ended.
  std::optional<Command> nextCommand() {
    std::unique_lock lock(s_->mutex);
    const bool busy = current_.playing && pcm_ && !drained_;
    auto news = [&] { return s_->ended || s_->generation != current_.generation; };
    if (!busy) s_->wake.wait(lock, news);
    else if (eof_) s_->wake.wait_for(lock, kDrainPoll, news);
    if (s_->ended) return std::nullopt;
    return Command{s_->generation, s_->playing, s_->startFrame};
  }

  void begin(const Command& command) {
    current_ = command;
    if (pcm_) snd_pcm_drop(pcm_.get());
    if (!command.playing) return pcm_.reset();
    if (!pcm_ && !open()) return;
    snd_pcm_prepare(pcm_.get());
    decoder_.seek(command.startFrame);
    written_ = 0;
    eof_ = drained_ = false;
    report([](Progress& p) { p.device = Progress::Device::Open; });
  }

  bool open() {
    snd_pcm_t* raw = nullptr;
    // Not blocking on a device that another program holds; blocking writes after that.
    int error = snd_pcm_open(&raw, s_->device.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
    Pcm pcm(raw);
    if (error >= 0) error = snd_pcm_nonblock(pcm.get(), 0);
    if (error >= 0 && !decoder_) error = -EINVAL;
    if (error >= 0)
      error = snd_pcm_set_params(pcm.get(), SND_PCM_FORMAT_FLOAT, SND_PCM_ACCESS_RW_INTERLEAVED,
                                 static_cast<unsigned>(s_->format.channels),
                                 static_cast<unsigned>(s_->format.sampleRate), 1, kLatencyMicroseconds);
    if (error < 0) {
      fail(error);
      return false;
    }
    snd_pcm_uframes_t bufferFrames = 0, periodFrames = 0;
    snd_pcm_get_params(pcm.get(), &bufferFrames, &periodFrames);
    chunkFrames_ = std::clamp<snd_pcm_uframes_t>(periodFrames, 1, kMaxChunkFrames);
    pcm_ = std::move(pcm);
    return true;
  }

  // One chunk to the device, or, once the sound is all there, a look at whether it is heard out.
  void feed() {
    if (!eof_) {
      const auto frames = decoder_.read(buffer_.data(), static_cast<std::int64_t>(chunkFrames_));
      if (frames > 0 && !write(frames)) return;
      // A sound shorter than the device's start threshold would otherwise never start.
      if (frames <= 0 && snd_pcm_state(pcm_.get()) == SND_PCM_STATE_PREPARED) snd_pcm_start(pcm_.get());
      eof_ = frames <= 0;
    }
    snd_pcm_sframes_t held = 0;
    if (snd_pcm_delay(pcm_.get(), &held) < 0 || snd_pcm_state(pcm_.get()) == SND_PCM_STATE_XRUN) held = 0;
    drained_ = eof_ && held <= 0;
    const std::int64_t heard = current_.startFrame + written_ - std::max<snd_pcm_sframes_t>(0, held);
    const bool drained = drained_;
    report([&](Progress& p) {
      p.heardFrame = std::max(p.heardFrame, std::min(heard, current_.startFrame + written_));
      p.drained = drained;
    });
  }

  bool write(std::int64_t frames) {
    const float* at = buffer_.data();
    while (frames > 0) {
      auto n = snd_pcm_writei(pcm_.get(), at, static_cast<snd_pcm_uframes_t>(frames));
      // An underrun (the main thread kept us) or a suspend: prepare again and go on.
      if (n < 0) n = snd_pcm_recover(pcm_.get(), static_cast<int>(n), 1);
      if (n < 0) {
        fail(static_cast<int>(n));
        pcm_.reset();
        return false;
      }
      written_ += n;
      frames -= n;
      at += n * s_->format.channels;
    }
    return true;
  }

  void fail(int error) {
    const std::string why = fmt::format("{}: {}", s_->device, snd_strerror(error));
    report([&](Progress& p) {
      p.device = Progress::Device::Failed;
      p.failure = why;
    });
  }

  // Applies `change` to the current generation's progress, if it still is current, and tells the
  // owner when a waiter's news came with it.
  template <class F>
  void report(F change) {
    // Told under the lock, so that no news leaves once the owner is gone.
    std::lock_guard lock(s_->mutex);
    if (s_->ended || s_->generation != current_.generation) return;
    const Progress before = s_->progress;
    change(s_->progress);
    if (before.device != s_->progress.device || before.drained != s_->progress.drained) s_->changed();
  }

  std::shared_ptr<Shared> s_;
  SoundDecoder decoder_;
  std::vector<float> buffer_;
  Pcm pcm_;
  Command current_;
  snd_pcm_uframes_t chunkFrames_ = 1;
  std::int64_t written_ = 0;
  bool eof_ = false;
  bool drained_ = false;
};

}  // namespace

AlsaAudioOutput::AlsaAudioOutput(Data data, SoundFormat format, std::string device, std::function<void()> changed)
    : shared_(std::make_shared<Shared>(std::move(data), std::move(format), std::move(device), std::move(changed))) {
  // Detached: ending may wait on the device, and that is the thread's to wait, not the caller's.
  std::thread([shared = shared_] { Feeder(shared).run(); }).detach();
}

AlsaAudioOutput::~AlsaAudioOutput() {
  {
    std::lock_guard lock(shared_->mutex);
    shared_->ended = true;
  }
  shared_->wake.notify_all();
}

void AlsaAudioOutput::play(std::int64_t frame) {
  {
    std::lock_guard lock(shared_->mutex);
    ++shared_->generation;
    shared_->playing = true;
    shared_->startFrame = frame;
    shared_->progress = Progress{};
    shared_->progress.heardFrame = frame;
  }
  shared_->wake.notify_all();
}

void AlsaAudioOutput::stop() {
  {
    std::lock_guard lock(shared_->mutex);
    ++shared_->generation;
    shared_->playing = false;
    shared_->progress.drained = false;
  }
  shared_->wake.notify_all();
}

AlsaAudioOutput::Progress AlsaAudioOutput::progress() const {
  std::lock_guard lock(shared_->mutex);
  return shared_->progress;
}

std::string AlsaAudioOutput::configuredDevice() {
  const char* named = std::getenv("DORVALE_AUDIO_DEVICE");
  return named && *named ? named : "default";
}
