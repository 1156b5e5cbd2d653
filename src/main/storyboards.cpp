#include "main/storyboards.h"

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "account/external_register_view_controller.h"
#include "account/login_view_controller.h"
#include "account/profile_view_controller.h"
#include "account/register_view_controller.h"
#include "account/school_select_view_controller.h"
#include "browse/achievement_cell.h"
#include "browse/achievement_view_controller.h"
#include "browse/attachment_view_controller.h"
#include "browse/curriculum_content_view_controller.h"
#include "browse/curriculum_quiz_cell.h"
#include "browse/curriculum_quizes_view_controller.h"
#include "browse/lecture_details_cells.h"
#include "browse/lecture_details_view_controller.h"
#include "browse/lecture_quizes_view_controller.h"
#include "browse/lectures_collection_view_cell.h"
#include "browse/lectures_view_controller.h"
#include "browse/news_cell.h"
#include "browse/news_content_view_controller.h"
#include "browse/news_list_view_controller.h"
#include "browse/quiz_list_cell.h"
#include "browse/quizes_view_controller.h"
#include "platform/foundation/bundle.h"
#include "platform/ui/ns_layout_constraint.h"
#include "platform/ui/ui_bar_button_item.h"
#include "platform/ui/ui_collection_view.h"
#include "platform/ui/ui_gesture_recognizer.h"
#include "platform/ui/ui_image_view.h"
#include "platform/ui/ui_label.h"
#include "platform/ui/ui_navigation_controller.h"
#include "platform/ui/ui_search_bar.h"
#include "platform/ui/ui_storyboard.h"
#include "platform/ui/ui_table_view.h"
#include "quiz/audio_question_view_controller.h"
#include "quiz/image_question_view_controller.h"
#include "quiz/question_nibs.h"
#include "quiz/quiz_container_view_controller.h"
#include "quiz/quiz_selector_button.h"
#include "quiz/quiz_support.h"
#include "quiz/simple_question_view_controller.h"
#include "quiz/text_question_view_controller.h"
#include "quiz/video_question_view_controller.h"

namespace {

// A scene made by identifier whose class is named after it: "quizesViewController" is a
// QuizesViewController.
template <class T>
UIStoryboardScene classScene(const std::string& className) {
  registerViewControllerClass<T>(className);
  std::string identifier = className;
  identifier[0] = static_cast<char>(identifier[0] - 'A' + 'a');
  return {identifier, className, {}, {}, {}};
}

// The tabs of the main tab bar: scene name and the key of the tab's title.
const std::vector<std::pair<std::string, std::string>>& mainTabs() {
  static const std::vector<std::pair<std::string, std::string>> tabs = {{"lectures", "lectures_tabbar_title"},
                                                                        {"lectureQuizes", "lecturequizes_tabbar_title"},
                                                                        {"news", "newslist_tabbar_title"},
                                                                        {"achievements", "achievement_tabbar_title"},
                                                                        {"profile", "profile_navigation_title"}};
  return tabs;
}

// A tab's navigation controller: its tab item has the tab's title from the start, as an item set
// in a storyboard would, and not only once the user has opened the tab.
class TabNavigationController : public UINavigationController {
 public:
  TabNavigationController() = default;
  explicit TabNavigationController(const NSCoder& coder) : UINavigationController(coder) {}

  void awakeFromNib() override {
    UINavigationController::awakeFromNib();
    for (const auto& [name, titleKey] : mainTabs()) {
      if (storyboardIdentifier() == name + "Navigation") tabBarItem()->setTitle(NSLocalizedString(titleKey));
    }
  }
};

// A field of the start-up forms; the keyboard fits what it takes.
std::shared_ptr<StartupTextField> addField(UIStoryboardSceneBuilder& b, const std::string& outlet,
                                           UIKeyboardType keyboard = UIKeyboardType::Default, bool secure = false) {
  auto field = b.add<StartupTextField>(b.view(), outlet);
  field->setKeyboardType(keyboard);
  field->setSecureTextEntry(secure);
  if (keyboard == UIKeyboardType::EmailAddress || secure) {
    field->setAutocapitalizationType(UITextAutocapitalizationType::None);
    field->setAutocorrectionType(UITextAutocorrectionType::No);
  }
  return field;
}

// A spacing of the login form at its full-height value, owned by the root view.
std::shared_ptr<NSLayoutConstraint> addSpacing(UIStoryboardSceneBuilder& b, const std::string& name, CGFloat constant) {
  auto constraint = NSLayoutConstraint::make();
  constraint->setIdentifier(name);
  constraint->setConstant(constant);
  b.view()->addConstraint(constraint);
  return constraint;
}

void buildLoginScene(UIStoryboardSceneBuilder& b) {
  auto& vc = b.controllerAs<LoginViewController>();
  vc.setTitle(NSLocalizedString("login_title"));
  vc.loginLogoTopSpace = addSpacing(b, "loginLogoTopSpace", 40);
  vc.loginLogoHeight = addSpacing(b, "loginLogoHeight", 230);
  vc.logoTitleSpace = addSpacing(b, "logoTitleSpace", 8);
  vc.titleEmailSpace = addSpacing(b, "titleEmailSpace", 40);
  vc.passwordLoginSpace = addSpacing(b, "passwordLoginSpace", 16);
  vc.loginRegSpace = addSpacing(b, "loginRegSpace", 8);
  vc.regFbSpace = addSpacing(b, "regFbSpace", 60);
  vc.fbBottomSpace = addSpacing(b, "fbBottomSpace", 40);

  vc.titleLabel = b.add<UILabel>(b.view(), "titleLabel");
  vc.emailTextField = addField(b, "emailTextField", UIKeyboardType::EmailAddress);
  vc.passwordTextField = addField(b, "passwordTextField", UIKeyboardType::Default, true);
  auto login = b.add<StartupButton>(b.view(), "loginButton");
  vc.loginButton = login;
  b.action<LoginViewController>(login, "loginButtonTap:", UIControlEvents::TouchUpInside,
                                [](LoginViewController& c, UIControl& sender) { c.loginButtonTap(sender); });
  auto registration = b.add<UIButton>(b.view(), "registerButton");
  vc.registerButton = registration;
  b.segue(registration, LoginViewController::kRegisterSegue);
  auto recovery = b.add<UIButton>(b.view(), "passwordRecoveryButton");
  vc.passwordRecoveryButton = recovery;
  b.action<LoginViewController>(recovery, "passwordRecoveryButtonTap:", UIControlEvents::TouchUpInside,
                                [](LoginViewController& c, UIControl& sender) { c.passwordRecoveryButtonTap(sender); });

  // The provider buttons have actions only; the console reaches them by identifier.
  auto facebook = b.add<UIButton>(b.view());
  facebook->setAccessibilityIdentifier("fbLoginButton");
  facebook->setTitle("Sign in with Facebook", UIControlState::Normal);
  b.action<LoginViewController>(facebook, "fbLoginButtonTap:", UIControlEvents::TouchUpInside,
                                [](LoginViewController& c, UIControl& sender) { c.fbLoginButtonTap(sender); });
  auto zedodo = b.add<UIButton>(b.view());
  zedodo->setAccessibilityIdentifier("zedodoLoginButton");
  zedodo->setTitle("Sign in with Zedodo", UIControlState::Normal);
  b.action<LoginViewController>(zedodo, "zedodoLoginButtonTap:", UIControlEvents::TouchUpInside,
                                [](LoginViewController& c, UIControl& sender) { c.zedodoLoginButtonTap(sender); });
}

void buildRegisterScene(UIStoryboardSceneBuilder& b) {
  auto& vc = b.controllerAs<RegisterViewController>();
  vc.lastNameTextField = addField(b, "lastNameTextField");
  vc.firstNameTextField = addField(b, "firstNameTextField");
  vc.emailTextField = addField(b, "emailTextField", UIKeyboardType::EmailAddress);
  vc.passwordTextField = addField(b, "passwordTextField", UIKeyboardType::Default, true);
  vc.confirmPasswordTextField = addField(b, "confirmPasswordTextField", UIKeyboardType::Default, true);
  auto schools = b.add<StartupButton>(b.view(), "selectSchoolButton");
  schools->setTitle("Choose schools", UIControlState::Normal);
  vc.selectSchoolButton = schools;
  b.segue(schools, RegisterViewController::kSchoolSelectSegue);
  auto registration = b.add<StartupButton>(b.view(), "registerButton");
  registration->setTitle("Register", UIControlState::Normal);
  vc.registerButton = registration;
  b.action<RegisterViewController>(registration, "registerButtonTap:", UIControlEvents::TouchUpInside,
                                   [](RegisterViewController& c, UIControl& sender) { c.registerButtonTap(sender); });
}

void buildExternalRegisterScene(UIStoryboardSceneBuilder& b) {
  auto& vc = b.controllerAs<ExternalRegisterViewController>();
  vc.lastNameTextField = addField(b, "lastNameTextField");
  vc.firstNameTextField = addField(b, "firstNameTextField");
  vc.emailTextField = addField(b, "emailTextField", UIKeyboardType::EmailAddress);
  // The school button has no outlet; the console reaches it by identifier.
  auto schools = b.add<StartupButton>(b.view());
  schools->setAccessibilityIdentifier("selectSchoolButton");
  schools->setTitle("Choose schools", UIControlState::Normal);
  b.segue(schools, ExternalRegisterViewController::kSchoolSelectSegue);
  auto registration = b.add<StartupButton>(b.view(), "registerButton");
  registration->setTitle("Register", UIControlState::Normal);
  b.action<ExternalRegisterViewController>(
      registration, "registerButtonTap:", UIControlEvents::TouchUpInside,
      [](ExternalRegisterViewController& c, UIControl& sender) { c.registerButtonTap(sender); });
}

void buildProfileScene(UIStoryboardSceneBuilder& b) {
  auto& vc = b.controllerAs<ProfileViewController>();
  auto picture = b.add<UIImageView>(b.view(), "profilePictureImageView", CGRectMake(0, 0, 188, 188));
  picture->setUserInteractionEnabled(true);
  std::weak_ptr<ProfileViewController> weak = vc.sharedAs<ProfileViewController>();
  picture->addGestureRecognizer(
      UITapGestureRecognizer::make(weak.lock(), "profilePictureTap:", [weak](UIGestureRecognizer& sender) {
        if (auto c = weak.lock()) c->profilePictureTap(sender);
      }));
  vc.profilePictureImageView = picture;
  vc.nameLabel = b.add<UILabel>(b.view(), "nameLabel");
  vc.emailLabel = b.add<UILabel>(b.view(), "emailLabel");
  auto passwordField = [&b](const std::string& outlet) {
    auto field = b.add<ProfileTextField>(b.view(), outlet);
    field->setSecureTextEntry(true);
    field->setAutocapitalizationType(UITextAutocapitalizationType::None);
    field->setAutocorrectionType(UITextAutocorrectionType::No);
    return field;
  };
  vc.oldPasswordTextField = passwordField("oldPasswordTextField");
  vc.newPasswordTextField = passwordField("newPasswordTextField");
  vc.confirmPasswordTextField = passwordField("confirmPasswordTextField");
  auto change = b.add<StartupButton>(b.view(), "changePasswordButton");
  // Until the profile says whether the password is changed or added.
  change->setTitle("Password", UIControlState::Normal);
  vc.changePasswordButton = change;
  b.action<ProfileViewController>(
      change, "changePasswordButtonTap:", UIControlEvents::TouchUpInside,
      [](ProfileViewController& c, UIControl& sender) { c.changePasswordButtonTap(sender); });
  auto facebook = b.add<StartupButton>(b.view(), "modifyFbButton");
  vc.modifyFbButton = facebook;
  b.action<ProfileViewController>(facebook, "changeFbButtonTap:", UIControlEvents::TouchUpInside,
                                  [](ProfileViewController& c, UIControl& sender) { c.changeFbButtonTap(sender); });
  auto zedodo = b.add<StartupButton>(b.view(), "modifyZedodoButton");
  vc.modifyZedodoButton = zedodo;
  b.action<ProfileViewController>(zedodo, "changeZedodoButtonTap:", UIControlEvents::TouchUpInside,
                                  [](ProfileViewController& c, UIControl& sender) { c.changeZedodoButtonTap(sender); });
  auto logOut = std::make_shared<UIBarButtonItem>(std::optional<std::string>("Sign out"), UIBarButtonItemStyle::Plain);
  logOut->setAccessibilityIdentifier("logOutButton");
  b.action<ProfileViewController>(
      logOut, "logOutButtonTap:", [](ProfileViewController& c, UIBarButtonItem& sender) { c.logOutButtonTap(sender); });
  vc.navigationItem()->setRightBarButtonItem(logOut);
  vc.logOutButton = logOut;
}

void buildSchoolSelectScene(UIStoryboardSceneBuilder& b) {
  auto vc = b.controllerAs<SchoolSelectViewController>().sharedAs<SchoolSelectViewController>();
  auto table = b.add<UITableView>(b.view(), "tableView");
  table->registerClass<UITableViewCell>(SchoolSelectViewController::kCellIdentifier);
  table->setDataSource(std::static_pointer_cast<UITableViewDataSource>(vc));
  table->setDelegate(std::static_pointer_cast<UITableViewDelegate>(vc));
  vc->setTableView(table);
}

// Every question scene: a collection view over the whole screen, its data source and delegate the
// screen.
void buildQuestionScene(UIStoryboardSceneBuilder& b) {
  auto vc = b.controllerAs<SimpleQuestionViewController>().sharedAs<SimpleQuestionViewController>();
  auto collection = b.add<UICollectionView>(b.view(), "collectionView", b.view()->bounds());
  NSLayoutConstraint::activateConstraints(edgeConstraints(
      collection, b.view(),
      {NSLayoutAttribute::Top, NSLayoutAttribute::Left, NSLayoutAttribute::Bottom, NSLayoutAttribute::Right}));
  collection->setDataSource(std::static_pointer_cast<UICollectionViewDataSource>(vc));
  collection->setDelegate(std::static_pointer_cast<UICollectionViewDelegate>(vc));
  vc->setCollectionView(collection);
}

// The media question scenes: the question scene below an area at the top for the material.
template <class V>
std::shared_ptr<V> addMaterialArea(UIStoryboardSceneBuilder& b, const std::string& outletName, CGFloat height) {
  buildQuestionScene(b);
  auto collection = b.controllerAs<SimpleQuestionViewController>().collectionView();
  for (const auto& constraint : b.view()->constraints()) {
    if (constraint->firstItem() == collection && constraint->firstAttribute() == NSLayoutAttribute::Top)
      constraint->setConstant(height);
  }
  auto area = b.add<V>(b.view(), outletName, CGRectMake(0, 0, b.view()->bounds().size.width, height));
  // First among the subviews, so that the material reads before the answers.
  b.view()->insertSubview(area, 0);
  auto edges =
      edgeConstraints(area, b.view(), {NSLayoutAttribute::Top, NSLayoutAttribute::Left, NSLayoutAttribute::Right});
  edges.push_back(NSLayoutConstraint::constraintWithItem(area, NSLayoutAttribute::Height, NSLayoutRelation::Equal,
                                                         nullptr, NSLayoutAttribute::NotAnAttribute, 1, height));
  NSLayoutConstraint::activateConstraints(edges);
  return area;
}

constexpr CGFloat kMaterialHeight = 200;
constexpr CGFloat kAudioControlsHeight = 60;

void buildImageQuestionScene(UIStoryboardSceneBuilder& b) {
  auto image = addMaterialArea<QuestionImageView>(b, "questionImageView", kMaterialHeight);
  image->setContentMode(UIViewContentMode::ScaleAspectFit);
  b.controllerAs<ImageQuestionViewController>().questionImageView = image;
}

void buildTextQuestionScene(UIStoryboardSceneBuilder& b) {
  b.controllerAs<TextQuestionViewController>().webViewContainer =
      addMaterialArea<UIView>(b, "webViewContainer", kMaterialHeight);
}

void buildVideoQuestionScene(UIStoryboardSceneBuilder& b) {
  b.controllerAs<VideoQuestionViewController>().videoPlayerViewContainer =
      addMaterialArea<UIView>(b, "videoPlayerViewContainer", kMaterialHeight);
}

// The play button, the slider and the time label in a row.
void buildAudioQuestionScene(UIStoryboardSceneBuilder& b) {
  auto& vc = b.controllerAs<AudioQuestionViewController>();
  auto controls = addMaterialArea<SoundControlsView>(b, "audioControls", kAudioControlsHeight);
  const CGFloat width = controls->bounds().size.width;
  auto play = b.add<UIButton>(controls, "playButton", CGRectMake(8, 8, 44, 44));
  play->setTitle("Play", UIControlState::Normal);
  play->setTitle("Pause", UIControlState::Selected);
  b.action<AudioQuestionViewController>(
      play, "playButtonTap:", UIControlEvents::TouchUpInside,
      [](AudioQuestionViewController& c, UIControl& sender) { c.playButtonTap(sender); });
  vc.playButton = play;
  auto slider = b.add<UISlider>(controls, "progressSlider", CGRectMake(60, 8, width - 140, 44));
  std::weak_ptr<AudioQuestionViewController> weak = vc.sharedAs<AudioQuestionViewController>();
  slider->addTarget(weak.lock(), "progressSliderValueChanged:forEvent:", UIControlEvents::ValueChanged,
                    [weak](UIControl& sender, const UIEvent* event) {
                      if (auto c = weak.lock()) c->progressSliderValueChanged(sender, event);
                    });
  vc.progressSlider = slider;
  vc.timeLabel = b.add<UILabel>(controls, "timeLabel", CGRectMake(width - 72, 8, 64, 44));
}

// A view of a prototype cell, made from the archive and added to `content`: the cell's content
// view, or the cell itself for a grid's cells, where a content view would only hold the others
// (the collection neither sizes them by their content nor looks into them).
template <class V>
std::shared_ptr<V> addToContent(const std::shared_ptr<UIView>& content) {
  auto view = std::make_shared<V>(NSCoder{});
  content->addSubview(view);
  return view;
}

// Both lecture grids: the search bar above the grid of tiles.
void buildLecturesScene(UIStoryboardSceneBuilder& b) {
  auto vc = b.controllerAs<LectureGridViewController>().sharedAs<LectureGridViewController>();
  const CGFloat width = b.view()->bounds().size.width;
  auto search = b.add<UISearchBar>(b.view(), "searchBar", CGRectMake(0, 0, width, 44));
  search->setDelegate(std::static_pointer_cast<UISearchBarDelegate>(vc));
  vc->searchBar = search;
  auto grid = b.add<UICollectionView>(b.view(), "collectionView",
                                      CGRectMake(0, 44, width, b.view()->bounds().size.height - 44));
  NSLayoutConstraint::activateConstraints({NSLayoutConstraint::constraintWithItem(
      grid, NSLayoutAttribute::Top, NSLayoutRelation::Equal, search, NSLayoutAttribute::Bottom, 1, 0)});
  for (auto edge : {NSLayoutAttribute::Left, NSLayoutAttribute::Bottom, NSLayoutAttribute::Right})
    NSLayoutConstraint::activateConstraints(
        {NSLayoutConstraint::constraintWithItem(grid, edge, NSLayoutRelation::Equal, b.view(), edge, 1, 0)});
  grid->registerPrototype(LecturesCollectionViewCell::kReuseIdentifier, [] {
    auto cell = std::make_shared<LecturesCollectionViewCell>(NSCoder{});
    cell->lectureImageView = addToContent<UIImageView>(cell);
    auto bar = addToContent<UIView>(cell);
    cell->bottomView = bar;
    cell->lectureLabel = addToContent<UILabel>(bar);
    return cell;
  });
  grid->setDataSource(std::static_pointer_cast<UICollectionViewDataSource>(vc));
  grid->setDelegate(std::static_pointer_cast<UICollectionViewDelegate>(vc));
  vc->collectionView = grid;
}

// A table over the whole root view, the screen its data source and delegate.
template <class VC>
std::shared_ptr<UITableView> addScreenTable(UIStoryboardSceneBuilder& b) {
  auto vc = b.controllerAs<VC>().template sharedAs<VC>();
  auto table = b.add<UITableView>(b.view(), "tableView", b.view()->bounds());
  NSLayoutConstraint::activateConstraints(edgeConstraints(
      table, b.view(),
      {NSLayoutAttribute::Top, NSLayoutAttribute::Left, NSLayoutAttribute::Bottom, NSLayoutAttribute::Right}));
  table->setDataSource(std::static_pointer_cast<UITableViewDataSource>(vc));
  table->setDelegate(std::static_pointer_cast<UITableViewDelegate>(vc));
  vc->tableView = table;
  return table;
}

// A cell's separator-height constraint, owned by its content view.
std::shared_ptr<NSLayoutConstraint> addSeparatorConstraint(const std::shared_ptr<UIView>& content) {
  auto separator = NSLayoutConstraint::make();
  content->addConstraint(separator);
  return separator;
}

// A lecture's curricula with the student's progress.
void buildCurriculumQuizesScene(UIStoryboardSceneBuilder& b) {
  addScreenTable<CurriculumQuizesViewController>(b)->registerPrototype(CurriculumQuizCell::kReuseIdentifier, [] {
    auto cell = std::make_shared<CurriculumQuizCell>(NSCoder{});
    auto content = cell->contentView();
    cell->curriculumImageView = addToContent<UIImageView>(content);
    cell->curriculumNameLabel = addToContent<UILabel>(content);
    cell->quizCountLabel = addToContent<UILabel>(content);
    cell->separatorLineHeight = addSeparatorConstraint(content);
    return cell;
  });
}

// The news list: the bar in the lecture's colour, then title, description and date.
void buildNewsListScene(UIStoryboardSceneBuilder& b) {
  addScreenTable<NewsListViewController>(b)->registerPrototype(NewsCell::kReuseIdentifier, [] {
    auto cell = std::make_shared<NewsCell>(NSCoder{});
    auto content = cell->contentView();
    cell->lectureColorView = addToContent<UIView>(content);
    cell->titleLabel = addToContent<UILabel>(content);
    auto description = addToContent<UILabel>(content);
    description->setNumberOfLines(0);
    cell->descriptionLabel = description;
    cell->dateLabel = addToContent<UILabel>(content);
    cell->separatorHeightConstraint = addSeparatorConstraint(content);
    return cell;
  });
}

constexpr CGFloat kAchievementHeight = 120;

// The achievements: a grid of cards over the whole screen.
void buildAchievementScene(UIStoryboardSceneBuilder& b) {
  auto vc = b.controllerAs<AchievementViewController>().sharedAs<AchievementViewController>();
  auto grid = b.add<UICollectionView>(b.view(), "collectionView", b.view()->bounds());
  NSLayoutConstraint::activateConstraints(edgeConstraints(
      grid, b.view(),
      {NSLayoutAttribute::Top, NSLayoutAttribute::Left, NSLayoutAttribute::Bottom, NSLayoutAttribute::Right}));
  std::static_pointer_cast<UICollectionViewFlowLayout>(grid->collectionViewLayout())
      ->setItemSize({b.view()->bounds().size.width - 12, kAchievementHeight});
  grid->registerPrototype(AchievementCell::kReuseIdentifier, [] {
    auto cell = std::make_shared<AchievementCell>(NSCoder{});
    // The question screens' picture view, which shows its address on the console.
    cell->achievementImageView = addToContent<QuestionImageView>(cell);
    cell->achievementNameLabel = addToContent<UILabel>(cell);
    auto description = addToContent<UILabel>(cell);
    description->setNumberOfLines(0);
    cell->achievementDescriptionLabel = description;
    return cell;
  });
  grid->setDataSource(std::static_pointer_cast<UICollectionViewDataSource>(vc));
  vc->collectionView = grid;
}

// The lecture details: the picture as the table's header and the three prototype cells.
void buildLectureDetailsScene(UIStoryboardSceneBuilder& b) {
  auto& vc = b.controllerAs<LectureDetailsViewController>();
  auto table = vc.tableView();
  auto header = std::make_shared<UIImageView>(NSCoder{});
  header->setFrame(CGRectMake(0, 0, table->bounds().size.width, 0));
  b.outlet("headerImageView", header);
  table->setTableHeaderView(header);
  vc.headerImageView = header;
  table->registerPrototype(LectureDetailsViewController::kDescriptionCell, [] {
    auto cell = std::make_shared<LectureDetailsDescriptionCell>(NSCoder{});
    auto label = std::make_shared<UILabel>(NSCoder{});
    label->setNumberOfLines(0);
    cell->contentView()->addSubview(label);
    cell->descriptionLabel = label;
    return cell;
  });
  table->registerPrototype(LectureDetailsViewController::kHeaderCell, [] {
    auto cell = std::make_shared<LectureDetailsHeaderCell>(NSCoder{});
    auto label = std::make_shared<UILabel>(NSCoder{});
    cell->contentView()->addSubview(label);
    cell->titleLabel = label;
    return cell;
  });
  table->registerPrototype(LectureDetailsViewController::kCurriculumCell, [] {
    auto cell = std::make_shared<LectureDetailsCurriculumCell>(NSCoder{});
    auto content = cell->contentView();
    auto image = std::make_shared<UIImageView>(NSCoder{});
    content->addSubview(image);
    cell->curriculumImageView = image;
    auto title = std::make_shared<UILabel>(NSCoder{});
    content->addSubview(title);
    cell->curriculumTitleLabel = title;
    auto subtitle = std::make_shared<UILabel>(NSCoder{});
    content->addSubview(subtitle);
    cell->curriculumSubtitleLabel = subtitle;
    auto separator = NSLayoutConstraint::make();
    content->addConstraint(separator);
    cell->separatorLineHeight = separator;
    return cell;
  });
}

// A scene of class T named after it, its views made by `build`.
template <class T>
UIStoryboardScene builtScene(const std::string& className, void (*build)(UIStoryboardSceneBuilder&)) {
  auto scene = classScene<T>(className);
  scene.build = build;
  return scene;
}

// The curriculum's page: the web view is the screen's own; the scene gives the quiz button on the
// navigation bar.
void buildCurriculumContentScene(UIStoryboardSceneBuilder& b) {
  auto& vc = b.controllerAs<CurriculumContentViewController>();
  auto quiz = std::make_shared<UIBarButtonItem>(std::nullopt, UIBarButtonItemStyle::Plain);
  quiz->setAccessibilityIdentifier("quizBarButton");
  b.action<CurriculumContentViewController>(
      quiz,
      "quizButtonTap:", [](CurriculumContentViewController& c, UIBarButtonItem& sender) { c.quizButtonTap(sender); });
  vc.navigationItem()->setRightBarButtonItem(quiz);
  vc.quizBarButton = quiz;
}

// A curriculum's quizzes: progress picture and percentage, name, count, start picture per row.
void buildQuizesScene(UIStoryboardSceneBuilder& b) {
  addScreenTable<QuizesViewController>(b)->registerPrototype(QuizesViewController::kCellIdentifier, [] {
    auto cell = std::make_shared<QuizListCell>(NSCoder{});
    auto content = cell->contentView();
    auto progressImage = std::make_shared<UIImageView>(NSCoder{});
    content->addSubview(progressImage);
    cell->quizProgressImageView = progressImage;
    auto progress = std::make_shared<UILabel>(NSCoder{});
    content->addSubview(progress);
    cell->quizProgressLabel = progress;
    auto name = std::make_shared<UILabel>(NSCoder{});
    content->addSubview(name);
    cell->quizNameLabel = name;
    auto count = std::make_shared<UILabel>(NSCoder{});
    content->addSubview(count);
    cell->quizCountLabel = count;
    auto start = std::make_shared<UIImageView>(NSCoder{});
    content->addSubview(start);
    cell->quizStartImageView = start;
    auto separator = NSLayoutConstraint::make();
    content->addConstraint(separator);
    cell->separatorLineHeight = separator;
    return cell;
  });
}

// A curriculum's documents: name and file name per row.
void buildAttachmentScene(UIStoryboardSceneBuilder& b) {
  addScreenTable<AttachmentViewController>(b)->registerPrototype(AttachmentViewController::kCellIdentifier, [] {
    return std::make_shared<UITableViewCell>(UITableViewCellStyle::Subtitle);
  });
}

}  // namespace

void registerStartupStoryboard() {
  registerViewControllerClass<LoginViewController>("LoginViewController");
  registerViewControllerClass<RegisterViewController>("RegisterViewController");
  registerViewControllerClass<SchoolSelectViewController>("SchoolSelectViewController");
  registerViewControllerClass<ExternalRegisterViewController>("ExternalRegisterViewController");
  UIStoryboard::registerStoryboard(
      "Startup", "startupNavigation",
      {{"startupNavigation", "UINavigationController", {"login"}, {}, {}},
       {"login",
        "LoginViewController",
        {},
        {{LoginViewController::kRegisterSegue, "registerViewController", UIStoryboardSegueKind::Show}},
        buildLoginScene},
       {"registerViewController",
        "RegisterViewController",
        {},
        {{RegisterViewController::kSchoolSelectSegue, "schoolSelectViewController", UIStoryboardSegueKind::Show}},
        buildRegisterScene},
       {ExternalRegisterViewController::kStoryboardIdentifier,
        "ExternalRegisterViewController",
        {},
        {{ExternalRegisterViewController::kSchoolSelectSegue, "schoolSelectViewController",
          UIStoryboardSegueKind::Show}},
        buildExternalRegisterScene},
       {"schoolSelectViewController", "SchoolSelectViewController", {}, {}, buildSchoolSelectScene}});
}

void registerMainStoryboard() {
  registerViewControllerClass<TabNavigationController>("TabNavigationController");
  registerViewControllerClass<ProfileViewController>("ProfileViewController");
  registerViewControllerClass<LecturesViewController>("LecturesViewController");
  registerViewControllerClass<LectureQuizesViewController>("LectureQuizesViewController");
  registerViewControllerClass<NewsListViewController>("NewsListViewController");
  registerViewControllerClass<AchievementViewController>("AchievementViewController");
  registerViewControllerClass<LectureDetailsViewController>("LectureDetailsViewController");
  std::vector<UIStoryboardScene> scenes = {
      {"mainTabBar",
       "UITabBarController",
       {"lecturesNavigation", "lectureQuizesNavigation", "newsNavigation", "achievementsNavigation",
        "profileNavigation"},
       {},
       {}},
      {"lectureDetailsViewController", "LectureDetailsViewController", {}, {}, buildLectureDetailsScene},
      builtScene<CurriculumContentViewController>("CurriculumContentViewController", buildCurriculumContentScene),
      builtScene<CurriculumQuizesViewController>("CurriculumQuizesViewController", buildCurriculumQuizesScene),
      builtScene<QuizesViewController>("QuizesViewController", buildQuizesScene),
      classScene<QuizContainerViewController>("QuizContainerViewController"),
      classScene<SimpleQuestionViewController>("SimpleQuestionViewController"),
      classScene<ImageQuestionViewController>("ImageQuestionViewController"),
      classScene<VideoQuestionViewController>("VideoQuestionViewController"),
      classScene<AudioQuestionViewController>("AudioQuestionViewController"),
      classScene<TextQuestionViewController>("TextQuestionViewController"),
      classScene<NewsContentViewController>("NewsContentViewController"),
      builtScene<AttachmentViewController>("AttachmentViewController", buildAttachmentScene),
  };
  // Each tab: its navigation controller and the root screen.
  struct TabRoot {
    std::string name;
    std::string className;
    void (*build)(UIStoryboardSceneBuilder&);
  };
  for (const auto& [name, className, build] :
       std::vector<TabRoot>{{"lectures", "LecturesViewController", buildLecturesScene},
                            {"lectureQuizes", "LectureQuizesViewController", buildLecturesScene},
                            {"news", "NewsListViewController", buildNewsListScene},
                            {"achievements", "AchievementViewController", buildAchievementScene},
                            {"profile", "ProfileViewController", buildProfileScene}}) {
    scenes.push_back({name + "Navigation", "TabNavigationController", {name}, {}, {}});
    scenes.push_back({name, className, {}, {}, build});
  }
  for (auto& scene : scenes) {
    if (scene.className.ends_with("QuestionViewController")) scene.build = buildQuestionScene;
    if (scene.className == "QuizContainerViewController") scene.build = buildQuizContainerScene;
  }
  const std::map<std::string, void (*)(UIStoryboardSceneBuilder&)> mediaScenes = {
      {"ImageQuestionViewController", buildImageQuestionScene},
      {"TextQuestionViewController", buildTextQuestionScene},
      {"VideoQuestionViewController", buildVideoQuestionScene},
      {"AudioQuestionViewController", buildAudioQuestionScene}};
  for (auto& scene : scenes) {
    if (auto media = mediaScenes.find(scene.className); media != mediaScenes.end()) scene.build = media->second;
  }
  registerQuestionNibs();
  registerQuizSelectorButtonNib();
  UIStoryboard::registerStoryboard("Main", "mainTabBar", std::move(scenes));
}
