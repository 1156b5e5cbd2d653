#include <gtest/gtest.h>
#include <sndfile.h>

#include <atomic>
#include <fstream>
#include <iterator>

#include "platform/foundation/run_loop.h"
#include "platform/ui/alsa_audio_output.h"
#include "platform/ui/av_audio_player.h"
#include "platform/ui/av_player.h"
#include "platform/ui/ca_display_link.h"
#include "platform/ui/render.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "support/virtual_time.h"

namespace {

// A mono 16-bit PCM WAV file of silence.
Data wav(std::uint32_t frames, std::uint32_t rate) {
  std::string out;
  auto put = [&out](std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
  };
  out += "RIFF";
  put(36 + frames * 2, 4);
  out += "WAVEfmt ";
  // Chunk size, PCM, channels, frames a second, bytes a second, bytes a frame, bits a sample.
  for (auto [value, bytes] : {std::pair{16u, 4}, {1u, 2}, {1u, 2}, {rate, 4}, {rate * 2, 4}, {2u, 2}, {16u, 2}})
    put(value, bytes);
  out += "data";
  put(frames * 2, 4);
  return Data::fromString(out.append(frames * 2, '\0'));
}

// `seconds` of mono silence (or noise) at 8 kHz as FLAC; the header's sample count replaced by
// `claimed` when given (0: left open).
Data flac(int seconds, std::optional<std::uint64_t> claimed = std::nullopt, bool noise = false) {
  TempDir dir;
  const auto path = dir.str() + "/sound.flac";
  SF_INFO info{};
  info.samplerate = 8000;
  info.channels = 1;
  info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
  {
    std::unique_ptr<SNDFILE, decltype(&sf_close)> out(sf_open(path.c_str(), SFM_WRITE, &info), &sf_close);
    std::vector<short> second(8000);
    std::uint32_t state = 1;
    for (int i = 0; i < seconds; ++i) {
      if (noise)
        for (auto& sample : second) sample = static_cast<short>((state = state * 1664525 + 1013904223) >> 16);
      sf_writef_short(out.get(), second.data(), 8000);
    }
  }
  std::ifstream in(path, std::ios::binary);
  std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (claimed) {
    // The stream information's 36-bit sample count ends 26 bytes into the file.
    bytes[21] = static_cast<char>((bytes[21] & 0xF0) | ((*claimed >> 32) & 0x0F));
    for (int i = 0; i < 4; ++i) bytes[22 + i] = static_cast<char>(*claimed >> (24 - 8 * i));
  }
  return Data::fromString(bytes);
}

class FinishLog : public AVAudioPlayerDelegate {
 public:
  void audioPlayerDidFinishPlaying(AVAudioPlayer& player, bool ok) override {
    finishes.push_back(player.currentTime() == 0 && ok && !player.isPlaying());
  }
  std::vector<bool> finishes;
};

}  // namespace

constexpr const char* kNoDevice = "dorvale-no-such-device";

TEST(AVAudioPlayerTest, PlaysPausesAndFinishesOnTheRunLoopClockWhereNoDeviceOpens) {
  ScopedEnv device("DORVALE_AUDIO_DEVICE", kNoDevice);
  VirtualTime time;
  std::optional<NSError> error;
  auto player = AVAudioPlayer::initWithData(wav(16000, 8000), &error);
  ASSERT_TRUE(player) << error->description();
  EXPECT_EQ(std::pair(player->format().container, player->duration()), std::pair(std::string("WAV"), 2.0));
  auto delegate = std::make_shared<FinishLog>();
  player->setDelegate(delegate);

  ASSERT_TRUE(player->play());
  // The device's answer comes from its thread, in real time; the clock plays on meanwhile.
  ASSERT_TRUE(time.runUntil([&] { return player->outputFailure().has_value(); }));
  EXPECT_EQ(player->outputFailure()->rfind(std::string(kNoDevice) + ": ", 0), 0u) << *player->outputFailure();
  time.advance(0.5);
  player->pause();
  time.advance(10);  // paused: time stands
  EXPECT_DOUBLE_EQ(player->currentTime(), 0.5);
  player->play();
  time.advance(1.0);
  EXPECT_DOUBLE_EQ(player->currentTime(), 1.5);
  EXPECT_TRUE(delegate->finishes.empty());
  time.advance(0.5);
  EXPECT_EQ(delegate->finishes, std::vector<bool>{true});
}

// The null device takes sound as fast as it is given: what it shows is that the road to a device
// works end to end, not how long anything takes.
TEST(AlsaAudioOutputTest, TheNullDevicePlaysFromWhereItIsToldToItsEndAndStopsWhenTold) {
  std::atomic<int> changes = 0;
  AlsaAudioOutput output(wav(2000, 8000), *decodeSound(wav(2000, 8000)), "null", [&] { ++changes; });
  using Device = AlsaAudioOutput::Progress::Device;
  auto drained = [&] { return output.progress().drained; };
  output.play(500);
  ASSERT_TRUE(RunLoop::main().runUntil(drained, 5));
  auto progress = output.progress();
  EXPECT_EQ(std::tuple(progress.device, progress.heardFrame, progress.failure), std::tuple(Device::Open, 2000, ""));
  EXPECT_EQ(changes, 2);  // opened, drained
  output.stop();
  EXPECT_FALSE(drained());
  output.play(0);
  ASSERT_TRUE(RunLoop::main().runUntil(drained, 5));
  EXPECT_EQ(output.progress().heardFrame, 2000);

  AlsaAudioOutput missing(wav(2000, 8000), *decodeSound(wav(2000, 8000)), kNoDevice, [] {});
  missing.play(0);
  ASSERT_TRUE(RunLoop::main().runUntil([&] { return missing.progress().device == Device::Failed; }, 5));
  EXPECT_EQ(missing.progress().failure.rfind(std::string(kNoDevice) + ": ", 0), 0u);
  EXPECT_FALSE(missing.progress().drained);
}

TEST(AVAudioPlayerTest, OnTheNullDeviceItReachesItsEndNeverGoesBackAndHoldsWhenPaused) {
  ScopedEnv device("DORVALE_AUDIO_DEVICE", "null");
  RunLoop::main().reset();
  auto player = AVAudioPlayer::initWithData(wav(2400, 8000));  // 0.3 s
  ASSERT_TRUE(player);
  auto delegate = std::make_shared<FinishLog>();
  player->setDelegate(delegate);
  double last = 0;
  bool wentBack = false;
  // Until the end, which rewinds.
  auto watch = [&] {
    if (!delegate->finishes.empty()) return true;
    const double now = player->currentTime();
    wentBack |= now < last;
    last = now;
    return false;
  };
  player->play();
  ASSERT_TRUE(RunLoop::main().runUntil([&] { return watch() || last > 0.05; }, 5));
  player->pause();
  const double held = player->currentTime();
  // Longer than what was left of the sound: neither the time nor the end moves while paused.
  EXPECT_FALSE(RunLoop::main().runUntil([&] { return watch() || player->currentTime() != held; }, 0.35));
  EXPECT_FALSE(player->outputFailure());
  player->play();
  ASSERT_TRUE(RunLoop::main().runUntil(watch, 5));
  EXPECT_FALSE(wentBack);
  EXPECT_GT(last, held);
  EXPECT_EQ(delegate->finishes, std::vector<bool>{true});
  EXPECT_FALSE(player->outputFailure());
}

TEST(AVAudioPlayerTest, RefusesDataThatIsNotASound) {
  for (const Data& data : {Data(), Data::fromString("<html>not a sound</html>"), Data::fromString("RIFF\x10")}) {
    std::optional<NSError> error;
    EXPECT_EQ(AVAudioPlayer::initWithData(data, &error), nullptr);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain, NSOSStatusErrorDomain);
    EXPECT_EQ(error->code, kAudioFileUnsupportedFileTypeError);
  }
}

TEST(SoundFormatTest, TheLengthIsTheHeadersWhereTheDataHoldsItElseABoundedCount) {
  struct Case {
    const char* name;
    Data data;
    double seconds;
    double tolerance;
  };
  const Case cases[] = {
      {"told by the header", flac(2), 2, 0},
      {"a header that claims hours", flac(1, 8000ull * 3600 * 5), 1, 0},
      {"left open, counted", flac(3, 0), 3, 0},
      // Far more than is decoded: estimated from the share of the bytes read.
      {"left open, estimated", flac(100, 0, true), 100, 10},
  };
  for (const auto& c : cases) {
    auto format = decodeSound(c.data);
    ASSERT_TRUE(format) << c.name << ": " << format.error();
    EXPECT_EQ(format->container, "FLAC");
    EXPECT_NEAR(format->duration(), c.seconds, c.tolerance) << c.name;
  }
}

TEST(CADisplayLinkTest, TicksAtTheFrameIntervalUntilInvalidatedOrItsTargetGoes) {
  VirtualTime time;
  auto target = std::make_shared<int>(0);
  int ticks = 0;
  auto link = CADisplayLink::make(target, [&](CADisplayLink&) { ++ticks; });
  link->setFrameInterval(2);
  time.advance(1);
  EXPECT_EQ(ticks, 0);  // not on a run loop yet
  link->addToRunLoop(RunLoop::main(), NSRunLoopCommonModes);
  time.advance(1.01);
  EXPECT_EQ(ticks, 30);
  link->invalidate();
  time.advance(1);
  EXPECT_EQ(ticks, 30);

  auto other = CADisplayLink::make(target, [&](CADisplayLink&) { ++ticks; });
  other->addToRunLoop(RunLoop::main());
  other.reset();  // the run loop keeps it
  time.advance(0.105);
  EXPECT_EQ(ticks, 36);
  target.reset();
  time.advance(1);
  EXPECT_EQ(ticks, 36);
}

TEST(AVPlayerViewControllerTest, RendersThePlayersURLAndState) {
  auto controller = std::make_shared<AVPlayerViewController>();
  controller->setPlayer(AVPlayer::make(*URL::URLWithString("https://example.org/clip.mp4")));
  controller->setShowsPlaybackControls(false);
  controller->player()->play();
  EXPECT_EQ(renderOnOneLine(*controller->view()),
            "(video https://example.org/clip.mp4, playing, no controls) #videoPlayer");
}
