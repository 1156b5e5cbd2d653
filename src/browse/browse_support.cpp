#include "browse/browse_support.h"

#include <unordered_map>

#include "app/progress_indicator_helper.h"
#include "app/ui_view_controller_dorvale.h"
#include "platform/foundation/url.h"
#include "platform/frameworks/image_loading.h"
#include "platform/ui/ns_attributed_string.h"
#include "platform/ui/ui_image.h"
#include "platform/ui/ui_navigation_controller.h"

namespace {

// A table asks again for every row's picture on each reload: an address is parsed once. Bounded,
// so that a long session does not keep every address it met.
const std::optional<URL>& parsedPictureAddress(const std::string& text) {
  constexpr std::size_t kRemembered = 4096;
  static std::unordered_map<std::string, std::optional<URL>> parsed;
  if (auto it = parsed.find(text); it != parsed.end()) return it->second;
  if (parsed.size() >= kRemembered) parsed.clear();
  return parsed.emplace(text, URL::URLWithString(text)).first->second;
}

}  // namespace

void setBrowsePicture(UIImageView& view, const std::optional<std::string>& url) {
  if (url) {
    if (const auto& parsed = parsedPictureAddress(*url)) {
      hnk_setImageFromURL(view, *parsed);
      return;
    }
  }
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
