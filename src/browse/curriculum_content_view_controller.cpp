#include "browse/curriculum_content_view_controller.h"

#include <fstream>
#include <sstream>

#include "app/main_view_controller_factory.h"
#include "app/progress_indicator_helper.h"
#include "app/text_utilities.h"
#include "app/ui_view_controller_dorvale.h"
#include "browse/browse_support.h"
#include "browse/quizes_view_controller.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/text.h"
#include "platform/ui/ns_layout_constraint.h"
#include "platform/ui/ui_application.h"
#include "services/lecture_service.h"
#include "services/service_locator.h"

namespace {

// A UTF-8 text file, its byte-order mark dropped; nothing when it cannot be read or is not UTF-8
// (the bundle's texts are UTF-8).
std::optional<std::string> readText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  if (in.bad()) return std::nullopt;
  const std::string bytes = buffer.str();
  const std::string_view view = bytes;
  const auto text = view.starts_with("\xEF\xBB\xBF") ? view.substr(3) : view;
  if (!isValidUTF8(text)) return std::nullopt;
  return std::string(text);
}

// The bundle's style sheet as it is written (markup included), or "" when it is missing or
// unreadable.
std::string styleSheet() {
  auto path = Bundle::main()->pathForResource(CurriculumContentViewController::kStyleSheet, "");
  if (!path) return "";
  return readText(*path).value_or("");
}

}  // namespace

CurriculumContentViewController::CurriculumContentViewController()
    : lectureService_(ServiceLocator::shared().lectureService()),
      viewControllerFactory_(ServiceLocator::shared().viewControllerFactory()) {}

CurriculumContentViewController::CurriculumContentViewController(const NSCoder& coder)
    : UIViewController(coder),
      lectureService_(ServiceLocator::shared().lectureService()),
      viewControllerFactory_(ServiceLocator::shared().viewControllerFactory()) {}

const Curriculum& CurriculumContentViewController::requiredCurriculum() const {
  if (!curriculum_) fatalError("CurriculumContentViewController needs its curriculum");
  return *curriculum_;
}

void CurriculumContentViewController::viewDidLoad() {
  UIViewController::viewDidLoad();
  const auto& curriculum = requiredCurriculum();
  navigationItem()->setTitle(curriculum.name());
  connected(quizBarButton, "quizBarButton")->setTitle(NSLocalizedString("curriculumcontent_quiz_button_title"));
  const std::string css = styleSheet();
  addWebView();
  // The style sheet carries its own markup: nothing is put around it.
  if (const auto& content = curriculum.content())
    webView_->loadHTMLString(css + htmlViewportHeader() + *content, std::nullopt);
  webView_->setNavigationDelegate(
      std::static_pointer_cast<WKNavigationDelegate>(sharedAs<CurriculumContentViewController>()));
}

// The page fills the root view, from its very top.
void CurriculumContentViewController::addWebView() {
  webView_ = WKWebView::make();
  webView_->setTranslatesAutoresizingMaskIntoConstraints(false);
  auto root = view();
  root->addSubview(webView_);
  for (auto edge :
       {NSLayoutAttribute::Leading, NSLayoutAttribute::Trailing, NSLayoutAttribute::Top, NSLayoutAttribute::Bottom}) {
    root->addConstraint(
        NSLayoutConstraint::constraintWithItem(webView_, edge, NSLayoutRelation::Equal, root, edge, 1.0, 0));
  }
}

void CurriculumContentViewController::viewWillAppear(bool animated) {
  UIViewController::viewWillAppear(animated);
  analyticsScreenTracking(*this, "CurriculumContent");
}

void CurriculumContentViewController::quizButtonTap(UIBarButtonItem&) {
  ProgressIndicatorHelper::instance()->showProgressIndicator();
  auto self = sharedAs<CurriculumContentViewController>();
  const auto curriculumId = requiredCurriculum().id();
  lectureService_->getQuizes(
      std::nullopt, curriculumId,
      [self, curriculumId](const std::vector<std::shared_ptr<Quiz>>& quizes) {
        ProgressIndicatorHelper::instance()->hideProgressIndicator();
        if (quizes.empty()) {
          showAlert(*self, NSLocalizedString("lecturedetails_error_noquiz"));
          return;
        }
        auto list = MainViewControllerFactory::screenAs<QuizesViewController>(
            self->viewControllerFactory_->getQuizesViewController());
        list->setLectureId(self->lectureId_);
        list->setCurriculumId(curriculumId);
        if (self->lectureColor_ && self->lectureTextColor_) {
          list->setLectureColor(self->lectureColor_);
          list->setLectureTextColor(self->lectureTextColor_);
        }
        list->setQuizes(quizes);
        pushIfStillShown(*self, list);
      },
      [self](const std::string& message) {
        ProgressIndicatorHelper::instance()->hideProgressIndicator();
        showAlert(*self, message);
      });
}

void CurriculumContentViewController::decidePolicyForNavigationAction(
    WKWebView&, const WKNavigationAction& navigationAction,
    std::function<void(WKNavigationActionPolicy)> decisionHandler) {
  if (navigationAction.navigationType != WKNavigationType::LinkActivated) {
    decisionHandler(WKNavigationActionPolicy::Allow);
    return;
  }
  if (const auto& url = navigationAction.request.url) UIApplication::sharedApplication()->openURL(*url);
  decisionHandler(WKNavigationActionPolicy::Cancel);
}
