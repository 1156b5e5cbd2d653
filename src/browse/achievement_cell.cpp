#include "browse/achievement_cell.h"

#include "browse/browse_support.h"

void AchievementCell::awakeFromNib() {
  UICollectionViewCell::awakeFromNib();
  layer().cornerRadius = 3;
  connected(achievementImageView, "achievementImageView")->layer().cornerRadius = 3;
  for (const auto& label : {connected(achievementNameLabel, "achievementNameLabel"),
                            connected(achievementDescriptionLabel, "achievementDescriptionLabel")}) {
    label->layer().masksToBounds = true;
    label->setShadowColor(UIColor::darkGrayColor());
    label->setShadowOffset({0, 1});
  }
}

void AchievementCell::configure(const Achievement& achievement) {
  connected(achievementNameLabel, "achievementNameLabel")->setText(achievement.name());
  connected(achievementDescriptionLabel, "achievementDescriptionLabel")->setText(achievement.description());
  setBrowsePicture(*connected(achievementImageView, "achievementImageView"), achievement.pictureUrl());
}
