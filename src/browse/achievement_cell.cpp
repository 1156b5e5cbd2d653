#include "browse/achievement_cell.h"

#include "browse/browse_support.h"
#include "quiz/image_question_view_controller.h"

void AchievementCell::awakeFromNib() {
  UICollectionViewCell::awakeFromNib();
  layer().cornerRadius = 3;
  requiredOutlet(achievementImageView, "achievementImageView")->layer().cornerRadius = 3;
  for (const auto& label : {requiredOutlet(achievementNameLabel, "achievementNameLabel"),
                            requiredOutlet(achievementDescriptionLabel, "achievementDescriptionLabel")}) {
    label->layer().masksToBounds = true;
    label->setShadowColor(UIColor::darkGrayColor());
    label->setShadowOffset({0, 1});
  }
}

void AchievementCell::configure(const Achievement& achievement) {
  requiredOutlet(achievementNameLabel, "achievementNameLabel")->setText(achievement.name());
  requiredOutlet(achievementDescriptionLabel, "achievementDescriptionLabel")->setText(achievement.description());
  auto image = requiredOutlet(achievementImageView, "achievementImageView");
  setBrowsePicture(*image, achievement.pictureUrl());
  // A picture view that can name its address on the console is told it.
  if (auto named = std::dynamic_pointer_cast<QuestionImageView>(image))
    named->setSourceURL(achievement.pictureUrl() ? URL::URLWithString(*achievement.pictureUrl()) : std::nullopt);
}
