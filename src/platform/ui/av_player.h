#pragma once

#include <memory>

#include "platform/foundation/url.h"
#include "platform/ui/ui_view_controller.h"

// A video at a URL with its play state. Nothing is fetched or decoded: play and pause only move
// the rate between 1 and 0.
class AVPlayer {
 public:
  static std::shared_ptr<AVPlayer> make(URL url) { return std::make_shared<AVPlayer>(std::move(url)); }
  explicit AVPlayer(URL url) : url_(std::move(url)) {}

  const URL& url() const { return url_; }
  void play() { rate_ = 1; }
  void pause() { rate_ = 0; }
  float rate() const { return rate_; }
  void setRate(float rate) { rate_ = rate; }
  bool isPlaying() const { return rate_ != 0; }

 private:
  URL url_;
  float rate_ = 0;
};

// Shows a player full size, with or without the playback controls. Its view renders the picture
// as "(video URL, playing|paused) #videoPlayer", with ", no controls" before the ")" while they are
// hidden, and the controls as a Play or Pause button named "playbackButton". A tap on the picture
// reaches the controller's touchesCancelled: the player takes the touch for itself.
class AVPlayerViewController : public UIViewController {
 public:
  static constexpr const char* kPictureName = "videoPlayer";
  static constexpr const char* kPlaybackButtonName = "playbackButton";

  AVPlayerViewController() = default;
  explicit AVPlayerViewController(const NSCoder& coder) : UIViewController(coder) {}

  const std::shared_ptr<AVPlayer>& player() const { return player_; }
  void setPlayer(std::shared_ptr<AVPlayer> player) { player_ = std::move(player); }
  bool showsPlaybackControls() const { return showsPlaybackControls_; }
  void setShowsPlaybackControls(bool shows);
  bool allowsPictureInPicturePlayback() const { return allowsPictureInPicturePlayback_; }
  void setAllowsPictureInPicturePlayback(bool allows) { allowsPictureInPicturePlayback_ = allows; }

  void loadView() override;

 private:
  std::shared_ptr<AVPlayer> player_;
  bool showsPlaybackControls_ = true;
  bool allowsPictureInPicturePlayback_ = true;
};
