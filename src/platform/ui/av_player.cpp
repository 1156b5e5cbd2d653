#include "platform/ui/av_player.h"

#include "platform/ui/render.h"
#include "platform/ui/ui_screen.h"
#include "platform/ui/ui_view.h"

namespace {

// Reads the controller's state at each rendering, so a later setPlayer or play shows.
class PlayerView : public UIView {
 public:
  PlayerView(CGRect frame, std::weak_ptr<AVPlayerViewController> controller)
      : UIView(frame), controller_(std::move(controller)) {}

 protected:
  void renderSelf(TextCanvas& canvas) const override {
    auto controller = controller_.lock();
    if (!controller || !controller->player()) return;
    const AVPlayer& player = *controller->player();
    std::string text = "(video " + player.url().absoluteString() + (player.isPlaying() ? ", playing" : ", paused");
    if (!controller->showsPlaybackControls()) text += ", no controls";
    canvas.line(text + ")");
  }

 private:
  std::weak_ptr<AVPlayerViewController> controller_;
};

}  // namespace

void AVPlayerViewController::loadView() {
  setView(std::make_shared<PlayerView>(UIScreen::mainScreen()->bounds(), sharedAs<AVPlayerViewController>()));
}
