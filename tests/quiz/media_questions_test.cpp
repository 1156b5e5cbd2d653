#include <cmath>
#include <map>

#include <fmt/core.h>

#include "platform/frameworks/image_loading.h"
#include "platform/ui/image_codec.h"
#include "platform/ui/ui_alert_controller.h"
#include "question_fixture.h"
#include "quiz/audio_question_view_controller.h"
#include "quiz/image_question_view_controller.h"
#include "quiz/text_question_view_controller.h"
#include "quiz/video_question_view_controller.h"
#include "support/fake_backend.h"

namespace {

// A mono 16-bit PCM WAV file of silence at 8 kHz.
Data wav(std::uint32_t seconds) {
  const std::uint32_t bytes = seconds * 8000 * 2;
  std::string out = "RIFF";
  auto put = [&out](std::uint32_t v, int n) {
    for (int i = 0; i < n; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
  };
  put(36 + bytes, 4);
  out += "WAVEfmt ";
  for (auto [value, n] : {std::pair{16u, 4}, {1u, 2}, {1u, 2}, {8000u, 4}, {16000u, 4}, {2u, 2}, {16u, 2}})
    put(value, n);
  out += "data";
  put(bytes, 4);
  return Data::fromString(out.append(bytes, '\0'));
}

// The media screens of the "Main" storyboard in a window, driven through the console.
class MediaQuestionTest : public QuestionTest {
 protected:
  void TearDown() override {
    AudioQuestionViewController::setSoundLoader({});
    ImageCache::shared().removeAll();
    media.reset();
    QuestionTest::TearDown();
  }
  template <class T>
  T& showMedia(const std::string& identifier, std::optional<std::string> data) {
    auto q = question("oneCorrect", {{"A", true}, {"B"}});
    q->setData(std::move(data));
    media = UIStoryboard::storyboardWithName("Main")->instantiateViewControllerWithIdentifier(identifier);
    auto& shown = dynamic_cast<T&>(*media);
    shown.setQuizQuestion(q);
    window = UIWindow::make();
    window->setRootViewController(media);
    window->makeKeyAndVisible();
    driver = std::make_unique<ConsoleDriver>(out, window);
    driver->setEchoCommands(false);
    run("show");
    return shown;
  }
  // Leaves the screen and comes back, as a push and a pop would.
  void reappear() {
    media->viewWillDisappear(false);
    media->viewDidAppear(false);
  }
  std::string alertTitle() const {
    auto alert = std::dynamic_pointer_cast<UIAlertController>(media->presentedViewController());
    return alert ? alert->title().value_or("") : "";
  }

  std::shared_ptr<UIViewController> media;
};

TEST_F(MediaQuestionTest, PictureAndHtmlMaterialLoadOnce) {
  FakeBackend backend;
  backend.reply("GET", "/p.png",
                {200, {}, encodePNG(Bitmap{3, 2, std::vector<std::uint8_t>(24, 255)})->toString(), "image/png"});
  const std::pair<std::optional<std::string>, std::string> pictures[] = {
      {backend.url("/p.png"), "(image " + backend.url("/p.png") + ": image 3x2)"},
      {std::nullopt, ""},
      {"no url at all", ""},
  };
  for (const auto& [data, shown] : pictures) {
    SCOPED_TRACE(data.value_or("-"));
    backend.clearRequests();
    showMedia<ImageQuestionViewController>("imageQuestionViewController", data);
    reappear();
    EXPECT_NE(run("show").find(shown), std::string::npos);
    EXPECT_EQ(backend.requestCount(), shown.empty() ? 0u : 1u);
  }
  auto& text = showMedia<TextQuestionViewController>("textQuestionViewController", "<p>Listen <b>closely</b></p>");
  reappear();
  EXPECT_NE(run("show").find("Listen closely"), std::string::npos);
  EXPECT_EQ(text.webView()->superview(), text.webViewContainer.lock());
  EXPECT_EQ(text.webView()->frame(), text.webViewContainer.lock()->bounds());
}

TEST_F(MediaQuestionTest, VideoIsEmbeddedOnceAndItsControlsStayOnceRevealed) {
  auto& none = showMedia<VideoQuestionViewController>("videoQuestionViewController", "");
  EXPECT_FALSE(none.playerVC());
  EXPECT_TRUE(none.videoPlayerViewContainer.lock()->subviews().empty());

  auto& video = showMedia<VideoQuestionViewController>("videoQuestionViewController", "http://127.0.0.1:9/v.mp4");
  auto player = video.playerVC();
  EXPECT_NE(run("show").find("(video http://127.0.0.1:9/v.mp4, paused, no controls)"), std::string::npos);
  EXPECT_FALSE(player->allowsPictureInPicturePlayback());
  for (int i = 0; i < 2; ++i) {
    player->touchesCancelled({}, nullptr);
    reappear();
  }
  EXPECT_NE(run("show").find("(video http://127.0.0.1:9/v.mp4, paused)"), std::string::npos);
  auto container = video.videoPlayerViewContainer.lock();
  EXPECT_EQ(video.playerVC(), player);
  EXPECT_EQ(video.childViewControllers().size(), 1u);
  EXPECT_EQ(container->subviews().size(), 1u);
  EXPECT_EQ(player->view()->frame(), container->bounds());
}

class AudioQuestionTest : public MediaQuestionTest {
 protected:
  void SetUp() override {
    MediaQuestionTest::SetUp();
    AudioQuestionViewController::setSoundLoader([](const URL& url) -> std::optional<Data> {
      const std::map<std::string, Data> sounds = {
          {"a.wav", wav(75)}, {"empty.wav", wav(0)}, {"noise.wav", Data::fromString("no sound")}};
      auto found = sounds.find(url.lastPathComponent());
      return found == sounds.end() ? std::nullopt : std::optional<Data>(found->second);
    });
  }
  // The button, the slider's value and the label, as "Pause 50 00:37".
  std::string controls() {
    auto& audio = dynamic_cast<AudioQuestionViewController&>(*media);
    return fmt::format("{} {:g} {}", audio.playButton.lock()->isSelected() ? "Pause" : "Play",
                       std::round(audio.progressSlider.lock()->value()), audio.timeLabel.lock()->text().value_or(""));
  }
};

TEST_F(AudioQuestionTest, PlaysPausesSeeksAndStopsWithTheRunLoop) {
  showMedia<AudioQuestionViewController>("audioQuestionViewController", "http://sounds.test/a.wav");
  EXPECT_NE(run("show").find("[Play] #playButton\n<slider 0%> #progressSlider\n00:00\n0.0. Which city"),
            std::string::npos);
  const std::pair<std::string, std::string> steps[] = {
      {"show", "Play 0 00:00"},
      {"tap playButton", "Pause 0 00:00"},
      {"wait 1.5", "Pause 2 00:01"},
      {"tap playButton", "Play 2 00:01"},
      {"wait 5", "Play 2 00:01"},
      // Began while paused, the thumb previewed, then a seek that plays.
      {"slide progressSlider 50", "Pause 50 00:37"},
      {"wait 3", "Pause 54 00:40"},
      // Leaving stops the sound but not the button: the first tap pauses, the second plays.
      {"leave", "Pause 54 00:40"},
      {"tap playButton", "Play 54 00:40"},
      {"tap playButton", "Pause 54 00:40"},
      {"wait 60", "Play 100 01:14"},
  };
  for (const auto& [command, shows] : steps) {
    SCOPED_TRACE(command);
    if (command == "leave") {
      reappear();
      time.advance(10);
    } else {
      run(command);
    }
    EXPECT_EQ(controls(), shows);
  }
}

TEST_F(AudioQuestionTest, SoundsThatCannotBeHadLeaveNoPlayer) {
  const std::optional<std::string> sources[] = {std::nullopt, "no url at all", "http://sounds.test/missing.wav",
                                                "http://sounds.test/noise.wav"};
  for (const auto& source : sources) {
    SCOPED_TRACE(source.value_or("-"));
    auto& audio = showMedia<AudioQuestionViewController>("audioQuestionViewController", source);
    EXPECT_EQ(alertTitle(), NSLocalizedString("audioquestion_audio_load_error"));
    EXPECT_FALSE(audio.player());
    audio.playButtonTap(*audio.playButton.lock());
    audio.progressSlider.lock()->drag(UITouch::Phase::Ended, 50);
    EXPECT_EQ(controls(), "Play 50 00:00");
  }
  auto& silent = showMedia<AudioQuestionViewController>("audioQuestionViewController", "http://sounds.test/empty.wav");
  ASSERT_TRUE(silent.player());
  silent.trackAudio();
  EXPECT_EQ(controls(), "Play 0 00:00");
}

TEST(FormatDuration, WholeSecondsAsMinutesOrHours) {
  const std::pair<double, std::string> cases[] = {{0, "00:00"},         {59.9, "00:59"},    {61, "01:01"},
                                                  {3599, "59:59"},      {3600, "01:00:00"}, {3661.5, "01:01:01"},
                                                  {360000, "100:00:00"}};
  for (const auto& [seconds, text] : cases) EXPECT_EQ(formatDuration(seconds), text) << seconds;
}

}  // namespace
