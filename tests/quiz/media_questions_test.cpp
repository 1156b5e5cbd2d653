#include <fmt/core.h>

#include <cmath>

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

// `seconds` of silence as mono 16-bit PCM WAV at 8 kHz.
Data wav(std::uint32_t seconds) {
  std::string out;
  auto put = [&out](std::uint32_t v, int n) {
    for (int i = 0; i < n; ++i) out += static_cast<char>(v >> (8 * i));
  };
  out += "RIFF", put(36 + seconds * 16000, 4), out += "WAVEfmt ";
  for (auto [value, n] : {std::pair{16u, 4}, {1u, 2}, {1u, 2}, {8000u, 4}, {16000u, 4}, {2u, 2}, {16u, 2}})
    put(value, n);
  out += "data", put(seconds * 16000, 4);
  return Data::fromString(out.append(seconds * 16000, '\0'));
}

// The media screens of the "Main" storyboard as a window's root, driven through the console; the
// sounds come from a table.
class MediaQuestionTest : public QuestionTest {
 protected:
  void SetUp() override {
    QuestionTest::SetUp();
    AudioQuestionViewController::setSoundLoader([](const URL& url) -> std::optional<Data> {
      if (url.lastPathComponent() == "noise.wav") return Data::fromString("no sound");
      if (url.lastPathComponent() == "missing.wav") return std::nullopt;
      return wav(url.lastPathComponent() == "empty.wav" ? 0 : 75);
    });
  }
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
    dynamic_cast<T&>(*media).setQuizQuestion(q);
    window = UIWindow::make();
    window->setRootViewController(media);
    window->makeKeyAndVisible();
    driver = std::make_unique<ConsoleDriver>(out, window);
    driver->setEchoCommands(false);
    run("show");
    return dynamic_cast<T&>(*media);
  }
  // Leaves the screen and comes back, as a push and a pop would.
  void reappear() {
    media->viewWillDisappear(false);
    media->viewDidAppear(false);
  }
  // The audio screen's button, slider value and label, as "Pause 50 00:37".
  std::string controls() {
    auto& audio = dynamic_cast<AudioQuestionViewController&>(*media);
    return fmt::format("{} {:g} {}", audio.playButton.lock()->isSelected() ? "Pause" : "Play",
                       std::round(audio.progressSlider.lock()->value()), audio.timeLabel.lock()->text().value_or(""));
  }

  std::shared_ptr<UIViewController> media;
};

TEST_F(MediaQuestionTest, PictureAndHtmlMaterialLoadOnce) {
  FakeBackend backend;
  const auto png = encodePNG(Bitmap{3, 2, std::vector<std::uint8_t>(24, 255)})->toString();
  backend.reply("GET", "/p.png", {200, {}, png, "image/png"});
  for (std::optional<std::string> data : {std::optional(backend.url("/p.png")), {}, {"no url at all"}}) {
    const bool url = data && data->starts_with("http");
    backend.clearRequests();
    showMedia<ImageQuestionViewController>("imageQuestionViewController", data);
    reappear();
    EXPECT_EQ(run("show").find("(image " + backend.url("/p.png") + ": image 3x2)\n0.0."), url ? 0 : std::string::npos);
    EXPECT_EQ(backend.requestCount(), url ? 1u : 0u);
  }
  auto& text = showMedia<TextQuestionViewController>("textQuestionViewController", "<p>Listen <b>closely</b></p>");
  reappear();
  EXPECT_EQ(run("show").find("Listen closely\n0.0."), 0u);
  EXPECT_EQ(text.webView()->frame(), text.webViewContainer.lock()->bounds());
}

TEST_F(MediaQuestionTest, VideoIsEmbeddedOnceAndItsControlsStayOnceRevealed) {
  EXPECT_FALSE(showMedia<VideoQuestionViewController>("videoQuestionViewController", "").playerVC());
  auto& video = showMedia<VideoQuestionViewController>("videoQuestionViewController", "http://127.0.0.1:9/v.mp4");
  auto player = video.playerVC();
  EXPECT_EQ(run("show").find("(video http://127.0.0.1:9/v.mp4, paused, no controls)\n0.0."), 0u);
  EXPECT_FALSE(player->allowsPictureInPicturePlayback());
  for (int i = 0; i < 2; ++i) {
    player->touchesCancelled({}, nullptr);
    reappear();
  }
  EXPECT_EQ(run("show").find("(video http://127.0.0.1:9/v.mp4, paused)\n"), 0u);
  auto container = video.videoPlayerViewContainer.lock();
  EXPECT_EQ(video.childViewControllers(), std::vector<std::shared_ptr<UIViewController>>{player});
  EXPECT_EQ(container->subviews().size(), 1u);
  EXPECT_EQ(player->view()->frame(), container->bounds());
}

TEST_F(MediaQuestionTest, AudioPlaysPausesSeeksAndStopsWithTheRunLoop) {
  showMedia<AudioQuestionViewController>("audioQuestionViewController", "http://sounds.test/a.wav");
  EXPECT_EQ(run("show").find("[Play] #playButton\n<slider 0%> #progressSlider\n00:00\n0.0."), 0u);
  const std::pair<std::string, std::string> steps[] = {
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
    if (command == "leave") reappear(), time.advance(10);
    if (command != "leave") run(command);
    EXPECT_EQ(controls(), shows) << command;
  }
}

TEST_F(MediaQuestionTest, AudioWithoutASoundAlertsAndIgnoresTheControls) {
  for (std::optional<std::string> source :
       {std::optional<std::string>{}, {"no url at all"}, {"http://s.test/missing.wav"}, {"http://s.test/noise.wav"}}) {
    auto& audio = showMedia<AudioQuestionViewController>("audioQuestionViewController", source);
    auto alert = std::dynamic_pointer_cast<UIAlertController>(audio.presentedViewController());
    EXPECT_EQ(alert ? alert->title() : std::nullopt, NSLocalizedString("audioquestion_audio_load_error"));
    EXPECT_FALSE(audio.player());
    audio.playButtonTap(*audio.playButton.lock());
    audio.progressSlider.lock()->drag(UITouch::Phase::Ended, 50);
    EXPECT_EQ(controls(), "Play 50 00:00") << source.value_or("-");
  }
  auto& silent = showMedia<AudioQuestionViewController>("audioQuestionViewController", "http://s.test/empty.wav");
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
