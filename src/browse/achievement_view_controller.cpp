#include "browse/achievement_view_controller.h"

#include <algorithm>

#include "app/progress_indicator_helper.h"
#include "app/ui_view_controller_dorvale.h"
#include "browse/achievement_cell.h"
#include "browse/browse_support.h"
#include "platform/foundation/bundle.h"
#include "platform/ui/ui_navigation_controller.h"
#include "services/achievement_service.h"
#include "services/service_locator.h"

CGFloat achievementItemWidth(UIUserInterfaceIdiom idiom, CGFloat boundsWidth) {
  const CGFloat width = idiom == UIUserInterfaceIdiom::Pad ? (boundsWidth - 22) * 0.5 : boundsWidth - 12;
  return std::max<CGFloat>(0, width);
}

AchievementViewController::AchievementViewController()
    : achievementService_(ServiceLocator::shared().achievementService()) {}

AchievementViewController::AchievementViewController(const NSCoder& coder)
    : UIViewController(coder), achievementService_(ServiceLocator::shared().achievementService()) {}

void AchievementViewController::viewDidLoad() {
  UIViewController::viewDidLoad();
  navigationItem()->setTitle(NSLocalizedString("achievement_navigation_title"));
  if (auto nav = navigationController()) nav->tabBarItem()->setTitle(NSLocalizedString("achievement_tabbar_title"));
}

void AchievementViewController::viewWillAppear(bool animated) {
  UIViewController::viewWillAppear(animated);
  resetBarToPlainLook(*this);
  ProgressIndicatorHelper::instance()->showProgressIndicator();
  auto self = sharedAs<AchievementViewController>();
  achievementService_->getStudentAchievements(
      [self](const std::vector<std::shared_ptr<Achievement>>& achievements) {
        self->achievements_ = achievements;
        requiredOutlet(self->collectionView, "collectionView")->reloadData();
        ProgressIndicatorHelper::instance()->hideProgressIndicator();
      },
      hideOverlayAndAlert(self));
  analyticsScreenTracking(*this, "Achievements");
}

void AchievementViewController::viewDidLayoutSubviews() {
  UIViewController::viewDidLayoutSubviews();
  auto grid = requiredOutlet(collectionView, "collectionView");
  auto layout = std::dynamic_pointer_cast<UICollectionViewFlowLayout>(grid->collectionViewLayout());
  if (!layout) return;
  const CGSize old = layout->itemSize();
  const CGSize size{achievementItemWidth(UIDevice::currentDevice()->userInterfaceIdiom(), grid->bounds().size.width),
                    old.height};
  layout->setItemSize(size);
  if (size == old) return;
  UIView::performWithoutAnimation(
      [&collection = *grid] { collection.reloadItemsAtIndexPaths(collection.indexPathsForVisibleItems()); });
}

void AchievementViewController::viewWillTransitionToSize(CGSize size,
                                                         const UIViewControllerTransitionCoordinator& coordinator) {
  UIViewController::viewWillTransitionToSize(size, coordinator);
  if (!isViewLoaded()) return;
  if (auto grid = collectionView.lock()) grid->collectionViewLayout()->invalidateLayout();
}

int AchievementViewController::numberOfItemsInSection(UICollectionView&, int) {
  return static_cast<int>(achievements_.size());
}

std::shared_ptr<UICollectionViewCell> AchievementViewController::cellForItemAtIndexPath(UICollectionView& grid,
                                                                                        const NSIndexPath& indexPath) {
  auto cell =
      cellAs<AchievementCell>(grid.dequeueReusableCellWithReuseIdentifier(AchievementCell::kReuseIdentifier, indexPath),
                              AchievementCell::kReuseIdentifier);
  cell->configure(*achievements_.at(static_cast<std::size_t>(indexPath.item())));
  return cell;
}
