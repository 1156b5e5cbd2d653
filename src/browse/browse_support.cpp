#include "browse/browse_support.h"

#include "app/progress_indicator_helper.h"
#include "app/ui_view_controller_dorvale.h"
#include "platform/frameworks/image_loading.h"
#include "platform/ui/ns_attributed_string.h"
#include "platform/ui/ui_image.h"
#include "platform/ui/ui_navigation_controller.h"

void setBrowsePicture(UIImageView& view, const std::optional<std::string>& url) {
  if (url && hnk_setImageFromURLString(view, *url)) return;
  hnk_setImage(
      view, [] { return UIImage::imageNamed("placeholder"); }, "placeholder");
}

void colorBar(UIViewController& screen, const Color& colors) {
  auto nav = screen.navigationController();
  if (!nav) return;
  const auto& bar = nav->navigationBar();
  bar->setBarTintColor(colors.primary);
  bar->setTitleTextAttributes({{NSForegroundColorAttributeName, colors.primaryText}});
  bar->setTintColor(colors.primaryText);
}

void LectureBarColoring::apply(UIViewController& screen, const std::optional<Color>& colors) {
  if (done_ || !screen.navigationController()) return;
  done_ = true;
  if (colors) colorBar(screen, *colors);
}

std::function<void(const std::string& message)> hideOverlayAndAlert(std::shared_ptr<UIViewController> screen) {
  return [screen = std::move(screen)](const std::string& message) {
    ProgressIndicatorHelper::instance()->hideProgressIndicator();
    showAlert(*screen, message);
  };
}

void pushIfStillShown(UIViewController& screen, const std::shared_ptr<UIViewController>& next) {
  if (auto nav = screen.navigationController()) nav->pushViewController(next, true);
}
