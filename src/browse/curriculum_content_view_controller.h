#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "model/curriculum.h"
#include "platform/ui/ui_bar_button_item.h"
#include "platform/ui/ui_color.h"
#include "platform/ui/ui_view_controller.h"
#include "platform/ui/wk_web_view.h"

class LectureService;
class MainViewControllerFactory;

// A curriculum's page in a web view made in code, styled by the bundle's "bootstrap-mobil.css";
// links open outside the application, and the bar's quiz button opens the curriculum's quizzes.
class CurriculumContentViewController : public UIViewController, public WKNavigationDelegate {
 public:
  static constexpr const char* kStyleSheet = "bootstrap-mobil.css";

  CurriculumContentViewController();
  explicit CurriculumContentViewController(const NSCoder& coder);

  std::weak_ptr<UIBarButtonItem> quizBarButton;

  // Made when the view loads.
  const std::shared_ptr<WKWebView>& webView() const { return webView_; }
  // Required, with its content loaded, before the view loads.
  const std::shared_ptr<Curriculum>& curriculum() const { return curriculum_; }
  void setCurriculum(std::shared_ptr<Curriculum> curriculum) { curriculum_ = std::move(curriculum); }
  const std::optional<std::int64_t>& lectureId() const { return lectureId_; }
  void setLectureId(std::optional<std::int64_t> id) { lectureId_ = id; }
  const std::optional<UIColor>& lectureColor() const { return lectureColor_; }
  void setLectureColor(std::optional<UIColor> color) { lectureColor_ = color; }
  const std::optional<UIColor>& lectureTextColor() const { return lectureTextColor_; }
  void setLectureTextColor(std::optional<UIColor> color) { lectureTextColor_ = color; }

  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;
  void quizButtonTap(UIBarButtonItem& sender);

  // A link the student follows opens outside and the page stays; a link without an address is
  // cancelled; every other navigation goes on.
  void decidePolicyForNavigationAction(WKWebView& webView, const WKNavigationAction& navigationAction,
                                       std::function<void(WKNavigationActionPolicy)> decisionHandler) override;

 private:
  const Curriculum& requiredCurriculum() const;
  void addWebView();

  const std::shared_ptr<LectureService> lectureService_;
  const std::shared_ptr<MainViewControllerFactory> viewControllerFactory_;
  std::shared_ptr<WKWebView> webView_;
  std::shared_ptr<Curriculum> curriculum_;
  std::optional<std::int64_t> lectureId_;
  std::optional<UIColor> lectureColor_;
  std::optional<UIColor> lectureTextColor_;
};
