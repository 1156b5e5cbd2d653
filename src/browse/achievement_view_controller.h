#pragma once

#include <memory>
#include <vector>

#include "model/achievement.h"
#include "platform/ui/ui_collection_view.h"
#include "platform/ui/ui_device.h"
#include "platform/ui/ui_view_controller.h"

class AchievementService;

// The width of an achievement card in a grid `boundsWidth` wide: two a row on a pad, one on
// anything else; never negative.
CGFloat achievementItemWidth(UIUserInterfaceIdiom idiom, CGFloat boundsWidth);

// The Achievements tab: a grid of what the student has earned, loaded again on each appearance.
class AchievementViewController : public UIViewController, public UICollectionViewDataSource {
 public:
  AchievementViewController();
  explicit AchievementViewController(const NSCoder& coder);

  std::weak_ptr<UICollectionView> collectionView;

  const std::vector<std::shared_ptr<Achievement>>& achievements() const { return achievements_; }
  void setAchievements(std::vector<std::shared_ptr<Achievement>> achievements) {
    achievements_ = std::move(achievements);
  }

  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;
  void viewDidLayoutSubviews() override;
  void viewWillTransitionToSize(CGSize size, const UIViewControllerTransitionCoordinator& coordinator) override;

  int numberOfItemsInSection(UICollectionView& collectionView, int section) override;
  std::shared_ptr<UICollectionViewCell> cellForItemAtIndexPath(UICollectionView& collectionView,
                                                               const NSIndexPath& indexPath) override;

 private:
  const std::shared_ptr<AchievementService> achievementService_;
  std::vector<std::shared_ptr<Achievement>> achievements_;
};
