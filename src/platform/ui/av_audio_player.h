#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/data.h"
#include "platform/foundation/date.h"
#include "platform/foundation/ns_error.h"
#include "platform/ui/sound_data.h"

class AVAudioPlayer;
class AlsaAudioOutput;
class Timer;

// The platform's domain and code for data that is not a sound file.
inline constexpr const char* NSOSStatusErrorDomain = "NSOSStatusErrorDomain";
inline constexpr long kAudioFileUnsupportedFileTypeError = 1954115647;

class AVAudioPlayerDelegate {
 public:
  virtual ~AVAudioPlayerDelegate() = default;
  virtual void audioPlayerDidFinishPlaying(AVAudioPlayer&, bool /*successfully*/) {}
};

// Plays a sound held in memory through the sound device (AlsaAudioOutput; DORVALE_AUDIO_DEVICE
// names another than the default). The format and duration are read once (see decodeSound).
// Playing moves the current time with the main run loop's clock (the virtual one in tests), held
// back to what the device has played where a device is open; the end comes when both have got
// there. Where no device opens, the clock alone plays on and outputFailure() says why. Reaching
// the end stops, rewinds to 0 and tells the delegate.
class AVAudioPlayer : public std::enable_shared_from_this<AVAudioPlayer> {
 public:
  // Nothing, with the reason in *outError when given, for data that is not a sound.
  static std::shared_ptr<AVAudioPlayer> initWithData(const Data& data, std::optional<NSError>* outError = nullptr);
  AVAudioPlayer(Data data, SoundFormat format);
  ~AVAudioPlayer();
  AVAudioPlayer(const AVAudioPlayer&) = delete;
  AVAudioPlayer& operator=(const AVAudioPlayer&) = delete;

  std::shared_ptr<AVAudioPlayerDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(std::weak_ptr<AVAudioPlayerDelegate> delegate) { delegate_ = std::move(delegate); }

  bool prepareToPlay() { return true; }
  // From the current time; true while it plays.
  bool play();
  // Keeps the current time.
  void pause();
  // As pause: the current time stays where it was.
  void stop() { pause(); }
  bool isPlaying() const { return playing_; }

  TimeInterval duration() const { return format_.duration(); }
  TimeInterval currentTime() const;
  // Clamped to the sound; a playing sound goes on from there.
  void setCurrentTime(TimeInterval time);
  int numberOfChannels() const { return format_.channels; }
  const SoundFormat& format() const { return format_; }
  const Data& data() const { return data_; }
  // Why the last play is not heard (the device and the system's reason), once the device said so.
  std::optional<std::string> outputFailure() const;

 private:
  TimeInterval clockTime() const;
  void startOutput();
  void scheduleEnd();
  void finishIfHeard();
  void finish();

  Data data_;
  SoundFormat format_;
  std::weak_ptr<AVAudioPlayerDelegate> delegate_;
  bool playing_ = false;
  TimeInterval offset_ = 0;  // the current time when play() last started, or while stopped
  Date startedAt_;
  std::shared_ptr<Timer> endTimer_;
  bool endDue_ = false;                      // the clock is at the end; the device may still be playing
  mutable TimeInterval shown_ = 0;           // the latest currentTime(), below which it never goes
  std::unique_ptr<AlsaAudioOutput> output_;  // from the first play on
};
