#include "browse/lecture_grid_view_controller.h"

#include <algorithm>

#include "app/progress_indicator_helper.h"
#include "app/ui_view_controller_dorvale.h"
#include "browse/browse_support.h"
#include "browse/lectures_collection_view_cell.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/text.h"
#include "platform/ui/ui_application.h"
#include "platform/ui/ui_device.h"
#include "platform/ui/ui_gesture_recognizer.h"
#include "platform/ui/ui_navigation_controller.h"
#include "platform/ui/ui_screen.h"
#include "services/lecture_service.h"
#include "services/service_locator.h"

LectureGridViewController::LectureGridViewController()
    : lectureService_(ServiceLocator::shared().lectureService()),
      viewControllerFactory_(ServiceLocator::shared().viewControllerFactory()) {}

LectureGridViewController::LectureGridViewController(const NSCoder& coder)
    : UIViewController(coder),
      lectureService_(ServiceLocator::shared().lectureService()),
      viewControllerFactory_(ServiceLocator::shared().viewControllerFactory()) {}

void LectureGridViewController::viewDidLoad() {
  UIViewController::viewDidLoad();
  if (auto nav = navigationController()) nav->tabBarItem()->setTitle(NSLocalizedString(tabTitleKey()));
  navigationItem()->setTitle(NSLocalizedString(navigationTitleKey()));
  requiredOutlet(searchBar, "searchBar")->setPlaceholder(NSLocalizedString("searchbar_placeholder"));
  std::weak_ptr<LectureGridViewController> weak = sharedAs<LectureGridViewController>();
  auto tap = UITapGestureRecognizer::make(weak.lock(), "hideKeyboard", [weak](UIGestureRecognizer&) {
    if (auto self = weak.lock()) self->hideKeyboard();
  });
  tap->setCancelsTouchesInView(false);
  view()->addGestureRecognizer(tap);
  auto grid = requiredOutlet(collectionView, "collectionView");
  refreshControl_ = UIRefreshControl::make();
  refreshControl_->addTarget(weak.lock(), "refreshData", UIControlEvents::ValueChanged,
                             [weak](UIControl&, const UIEvent*) {
                               if (auto self = weak.lock()) self->refreshData();
                             });
  grid->setAlwaysBounceVertical(true);
  grid->setContentInset({10, 10, 10, 10});
  grid->addSubview(refreshControl_);
}

void LectureGridViewController::viewWillAppear(bool animated) {
  UIViewController::viewWillAppear(animated);
  resetBarToPlainLook(*this);
  requiredOutlet(searchBar, "searchBar")->setText("");
  load(true);
  analyticsScreenTracking(*this, screenName());
}

void LectureGridViewController::hideKeyboard() { view()->endEditing(false); }

void LectureGridViewController::refreshData() {
  refreshControl_->endRefreshing();
  load(false);
}

void LectureGridViewController::loadLectures(bool useCache, const Fetch& fetch) {
  ProgressIndicatorHelper::instance()->showProgressIndicator();
  auto self = sharedAs<LectureGridViewController>();
  fetch(
      useCache,
      [self](const Lectures& lectures) {
        ProgressIndicatorHelper::instance()->hideProgressIndicator();
        self->lectures_ = lectures;
        self->showAllLectures();
        requiredOutlet(self->collectionView, "collectionView")->reloadData();
      },
      [self](const std::string& message) {
        ProgressIndicatorHelper::instance()->hideProgressIndicator();
        self->loadDidFail(message);
      });
}

void LectureGridViewController::loadDidFail(const std::string& message) { showAlert(*this, message); }

void LectureGridViewController::viewDidLayoutSubviews() {
  UIViewController::viewDidLayoutSubviews();
  auto grid = requiredOutlet(collectionView, "collectionView");
  auto layout = std::dynamic_pointer_cast<UICollectionViewFlowLayout>(grid->collectionViewLayout());
  if (!layout) fatalError("The lecture grid needs a flow layout");
  const bool landscape = UIInterfaceOrientationIsLandscape(UIApplication::sharedApplication()->statusBarOrientation());
  const auto idiom = UIDevice::currentDevice()->userInterfaceIdiom();
  const CGFloat w = grid->bounds().size.width;
  const CGFloat h = grid->bounds().size.height;
  CGSize size;
  if (landscape && idiom == UIUserInterfaceIdiom::Pad) {
    size = {(w - 50) * 0.25, (h - 40) / 3};
  } else if (landscape) {
    size = {(w - 40) / 3, h - 20};
  } else if (idiom == UIUserInterfaceIdiom::Phone && UIScreen::mainScreen()->bounds().size.height < 568) {
    size = {(w - 30) * 0.5, (h - 30) * 0.5};
  } else if (idiom == UIUserInterfaceIdiom::Pad) {
    size = {(w - 40) / 3, (h - 50) * 0.25};
  } else {
    size = {(w - 30) * 0.5, (h - 40) / 3};
  }
  // The first pass can come with zero or tiny bounds.
  size = {std::max<CGFloat>(0, size.width), std::max<CGFloat>(0, size.height)};
  layout->setItemSize(size);
  if (size == itemSize_) return;
  itemSize_ = size;
  UIView::performWithoutAnimation(
      [&collection = *grid] { collection.reloadItemsAtIndexPaths(collection.indexPathsForVisibleItems()); });
}

void LectureGridViewController::viewWillTransitionToSize(CGSize size,
                                                         const UIViewControllerTransitionCoordinator& coordinator) {
  UIViewController::viewWillTransitionToSize(size, coordinator);
  requiredOutlet(collectionView, "collectionView")->collectionViewLayout()->invalidateLayout();
}

int LectureGridViewController::numberOfItemsInSection(UICollectionView&, int) {
  return static_cast<int>(filteredLectures().size());
}

std::shared_ptr<UICollectionViewCell> LectureGridViewController::cellForItemAtIndexPath(UICollectionView& grid,
                                                                                        const NSIndexPath& indexPath) {
  auto cell = std::dynamic_pointer_cast<LecturesCollectionViewCell>(
      grid.dequeueReusableCellWithReuseIdentifier(LecturesCollectionViewCell::kReuseIdentifier, indexPath));
  if (!cell) fatalError("The lecture grid's cell must be a LecturesCollectionViewCell");
  cell->configure(*filteredLectures().at(static_cast<std::size_t>(indexPath.item())));
  return cell;
}

void LectureGridViewController::didSelectItemAtIndexPath(UICollectionView&, const NSIndexPath& indexPath) {
  auto next = screenForLecture(filteredLectures().at(static_cast<std::size_t>(indexPath.item())));
  auto nav = navigationController();
  if (!nav) fatalError("The lecture grid must sit in a navigation controller");
  nav->pushViewController(next, true);
}

void LectureGridViewController::showAllLectures() {
  searching_ = false;
  Lectures().swap(filteredLectures_);
}

void LectureGridViewController::textDidChange(UISearchBar&, const std::string& searchText) {
  if (searchText.empty()) {
    showAllLectures();
  } else {
    searching_ = true;
    filteredLectures_.clear();
    std::copy_if(lectures_.begin(), lectures_.end(), std::back_inserter(filteredLectures_),
                 [&searchText](const auto& lecture) {
                   return rangeOfStringCaseInsensitive(lecture->name(), searchText).has_value();
                 });
  }
  requiredOutlet(collectionView, "collectionView")->reloadData();
}
