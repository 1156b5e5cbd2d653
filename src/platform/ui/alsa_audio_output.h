#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/data.h"
#include "platform/ui/sound_data.h"

// Plays one sound through an ALSA device on a thread of its own. No call waits for the device:
// the thread opens it when playing starts, feeds it, and closes it when playing stops, so that a
// device that admits one user at a time is free between plays.
class AlsaAudioOutput {
 public:
  // What the device made of the last play(). heardFrame is the frame of the sound being heard:
  // what was handed to the device less what it still holds; it never goes back within one play.
  struct Progress {
    enum class Device { Opening, Open, Failed };
    Device device = Device::Opening;
    std::string failure;  // why, when Failed
    std::int64_t heardFrame = 0;
    bool drained = false;  // the device has played the sound to its end
  };

  // `changed` runs on the output's thread whenever progress() gains news a waiter wants (the
  // device opened or failed, the sound drained), never after the output is gone; it runs under
  // the output's lock and must do no more than post.
  AlsaAudioOutput(Data data, SoundFormat format, std::string device, std::function<void()> changed);
  // Tells the thread to close the device and end; never waits for it.
  ~AlsaAudioOutput();
  AlsaAudioOutput(const AlsaAudioOutput&) = delete;
  AlsaAudioOutput& operator=(const AlsaAudioOutput&) = delete;

  // Plays from `frame` on, in place of whatever played.
  void play(std::int64_t frame);
  void stop();
  Progress progress() const;

  // DORVALE_AUDIO_DEVICE, else the configuration's "default" (the sound server where one runs).
  static std::string configuredDevice();

  struct Shared;

 private:
  std::shared_ptr<Shared> shared_;
};
