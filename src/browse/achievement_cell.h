#pragma once

#include <memory>

#include "model/achievement.h"
#include "platform/ui/ui_collection_view_cell.h"
#include "platform/ui/ui_image_view.h"
#include "platform/ui/ui_label.h"

// An achievement: its picture, name and description on a card with rounded corners.
class AchievementCell : public UICollectionViewCell {
 public:
  static constexpr const char* kReuseIdentifier = "achievementCell";

  explicit AchievementCell(CGRect frame = {}) : UICollectionViewCell(frame) {}
  explicit AchievementCell(const NSCoder& coder) : UICollectionViewCell(coder) {}

  std::weak_ptr<UIImageView> achievementImageView;
  std::weak_ptr<UILabel> achievementNameLabel;
  std::weak_ptr<UILabel> achievementDescriptionLabel;

  void awakeFromNib() override;
  // A picture address that is missing or does not parse gives the placeholder.
  void configure(const Achievement& achievement);
};
