#include "platform/frameworks/image_loading.h"
#include "platform/ui/image_codec.h"
#include "question_fixture.h"
#include "quiz/audio_question_view_controller.h"
#include "quiz/image_question_view_controller.h"
#include "quiz/text_question_view_controller.h"
#include "quiz/video_question_view_controller.h"
#include "support/fake_backend.h"
#include "support/scoped_env.h"

namespace {

// The "Main" storyboard's media screens as a window's root, driven through the console.
class MediaQuestionTest : public QuestionTest {
 protected:
  void SetUp() override {
    QuestionTest::SetUp();
    sounds.reply("GET", "/a.wav", {.body = wav(75).toString()});
    sounds.reply("GET", "/empty.wav", {.body = wav(0).toString()});
    sounds.reply("GET", "/noise.wav", {.body = "no sound"});
    sounds.reply("GET", "/missing.wav", {.status = 404, .body = wav(1).toString()});
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
    return dynamic_cast<T&>(*media);
  }
  void reappear() {
    media->viewWillDisappear(false);
    media->viewDidAppear(false);
  }
  std::shared_ptr<UIViewController> media;
  FakeBackend sounds;
  // No device opens: the sound plays by the run loop's clock, whatever the machine has.
  ScopedEnv device{"DORVALE_AUDIO_DEVICE", "dorvale-no-such-device"};
};

TEST_F(MediaQuestionTest, PictureHtmlAndVideoAreShownOnceAndNeverWithoutAURL) {
  FakeBackend backend;
  backend.reply("GET", "/p.png", {200, {}, encodePNG({3, 2, std::vector<std::uint8_t>(24, 255)})->toString()});
  for (std::optional<std::string> data : {std::optional(backend.url("/p.png")), {}, {"no url at all"}}) {
    const bool url = data && data->starts_with("http");
    showMedia<ImageQuestionViewController>("imageQuestionViewController", data);
    reappear();
    EXPECT_EQ(run("show").find("(image " + backend.url("/p.png") + ": image 3x2)\n0.0."), url ? 0 : std::string::npos);
    EXPECT_EQ(backend.requestCount(), 1u);  // the first picture only, shown twice
  }
  auto& text = showMedia<TextQuestionViewController>("textQuestionViewController", "<p>Listen <b>closely</b></p>");
  EXPECT_EQ(run("show").find("Listen closely\n0.0."), 0u);
  EXPECT_EQ(text.webView()->frame(), text.webViewContainer.lock()->bounds());

  EXPECT_FALSE(showMedia<VideoQuestionViewController>("videoQuestionViewController", "").playerVC());
  auto& video = showMedia<VideoQuestionViewController>("videoQuestionViewController", "http://127.0.0.1:9/v.mp4");
  auto player = video.playerVC();
  EXPECT_EQ(run("show").find("(video http://127.0.0.1:9/v.mp4, paused, no controls) #videoPlayer\n0.0."), 0u);
  EXPECT_FALSE(player->allowsPictureInPicturePlayback());
  for (int i = 0; i < 2; ++i) player->touchesCancelled({}, nullptr), reappear();
  EXPECT_EQ(run("show").find("(video http://127.0.0.1:9/v.mp4, paused) #videoPlayer\n[Play] #playbackButton\n"), 0u);
  EXPECT_EQ(video.videoPlayerViewContainer.lock()->subviews(), std::vector{player->view()});
  EXPECT_EQ(player->view()->frame(), video.videoPlayerViewContainer.lock()->bounds());
}

TEST_F(MediaQuestionTest, AVideoPlaysFromTheConsoleOnceATapOnItRevealsItsControls) {
  showMedia<VideoQuestionViewController>("videoQuestionViewController", "http://127.0.0.1:9/v.mp4");
  const std::string video = "(video http://127.0.0.1:9/v.mp4, ";
  const std::pair<std::string, std::string> steps[] = {
      {"tap playbackButton",
       "! Nothing named 'playbackButton' on screen\n" + video + "paused, no controls) #videoPlayer\n0.0."},
      {"tap videoPlayer", video + "paused) #videoPlayer\n[Play] #playbackButton\n0.0."},
      {"tap playbackButton", video + "playing) #videoPlayer\n[Pause] #playbackButton\n"},
      // The controls stay; the tap is the player's own and changes nothing else.
      {"tap videoPlayer", video + "playing) #videoPlayer\n[Pause] #playbackButton\n"},
      {"tap Pause", video + "paused) #videoPlayer\n[Play] #playbackButton\n"},
  };
  for (const auto& [command, shows] : steps) EXPECT_EQ(run(command).find(shows), 0u) << command;
}

TEST_F(MediaQuestionTest, AudioFollowsTheRunLoopAndIgnoresItsControlsWithoutASound) {
  auto& played = showMedia<AudioQuestionViewController>("audioQuestionViewController", sounds.url("a.wav"));
  const std::string sound = "(sound " + sounds.url("a.wav") + ")\n";
  // Until the sound is in, no time and a button that does nothing.
  EXPECT_NE(driver->screen().find(sound + "[Play] #playButton\n<slider 0%> #progressSlider\n--:--"), std::string::npos);
  const std::pair<std::string, std::string> steps[] = {
      {"tap playButton", "[Play] #playButton\n<slider 0%> #progressSlider\n00:00"},
      {"tap playButton", "[Pause] #playButton (selected)\n<slider 0%> #progressSlider\n00:00"},
      {"wait 1.5", "[Pause] #playButton (selected)\n<slider 2%> #progressSlider\n00:01"},
      {"tap playButton", "[Play] #playButton\n<slider 2%> #progressSlider\n00:01"},
      {"slide progressSlider 50", "[Pause] #playButton (selected)\n<slider 50%> #progressSlider\n00:37"},
      {"wait 3", "[Pause] #playButton (selected)\n<slider 54%> #progressSlider\n00:40"},
      // Leaving stops the sound but not the button: the first tap pauses, the second plays.
      {"leave", "[Pause] #playButton (selected)\n<slider 54%> #progressSlider\n00:40"},
      {"tap playButton", "[Play] #playButton\n<slider 54%> #progressSlider\n00:40"},
      {"tap playButton", "[Pause] #playButton (selected)\n<slider 54%> #progressSlider\n00:40"},
      {"wait 60", "[Play] #playButton\n<slider 100%> #progressSlider\n01:14"},
  };
  const std::string noOutput = "\n(no sound output: dorvale-no-such-device: ";
  for (const auto& [command, shows] : steps) {
    if (command == "leave") reappear(), time.advance(10);
    const auto shown = run(command == "leave" ? "show" : command);
    EXPECT_EQ(shown.find(sound + shows), 0u) << command;
    // The device's answer comes from its thread in real time; once in, a tick shows it under the
    // controls, once, and the sound plays on by the clock.
    time.runUntil(
        [&] { return !played.player() || !played.player()->isPlaying() || played.player()->outputFailure(); });
    const auto line = shown.find(noOutput);
    EXPECT_EQ(shown.rfind("(no sound output"), line == std::string::npos ? line : line + 1) << command;
    if (command == "wait 1.5") {
      EXPECT_EQ(line, (sound + shows).size()) << shown;
    }
  }

  // Without a sound: the alert, and controls that do nothing.
  for (std::optional<std::string> source :
       {std::optional<std::string>{}, {"no url at all"}, {sounds.url("missing.wav")}, {sounds.url("noise.wav")}}) {
    auto& audio = showMedia<AudioQuestionViewController>("audioQuestionViewController", source);
    const auto shown = run("show");
    EXPECT_NE(shown.find(NSLocalizedString("audioquestion_audio_load_error")), std::string::npos);
    EXPECT_NE(shown.find("--:--"), std::string::npos);
    EXPECT_FALSE(audio.player());
    audio.playButtonTap(*audio.playButton.lock());
    audio.progressSlider.lock()->drag(UITouch::Phase::Ended, 50);
    EXPECT_FALSE(audio.playButton.lock()->isSelected()) << source.value_or("-");
  }
  auto& silent = showMedia<AudioQuestionViewController>("audioQuestionViewController", sounds.url("empty.wav"));
  run("show");
  ASSERT_TRUE(silent.player());
  silent.trackAudio();
  EXPECT_EQ(silent.progressSlider.lock()->value(), 0);
}

TEST(FormatDuration, HoursOnlyFromOneHourOn) {
  const std::pair<double, std::string> cases[] = {
      {59.9, "00:59"}, {3599, "59:59"}, {3600, "01:00:00"}, {3661.5, "01:01:01"}, {360000, "100:00:00"}};
  for (const auto& [seconds, text] : cases) EXPECT_EQ(formatDuration(seconds), text) << seconds;
}

}  // namespace
