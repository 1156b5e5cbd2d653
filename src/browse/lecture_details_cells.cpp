#include "browse/lecture_details_cells.h"

#include <algorithm>
#include <cmath>

#include "browse/browse_support.h"
#include "platform/ui/ui_screen.h"

void LectureDetailsCurriculumCell::awakeFromNib() {
  UITableViewCell::awakeFromNib();
  setClipsToBounds(true);
  auto image = requiredOutlet(curriculumImageView, "curriculumImageView");
  image->layer().cornerRadius = 31;
  image->layer().masksToBounds = true;
  requiredOutlet(separatorLineHeight, "separatorLineHeight")->setConstant(1 / UIScreen::mainScreen()->scale());
}

void LectureDetailsCurriculumCell::layoutSubviews() {
  UITableViewCell::layoutSubviews();
  auto title = requiredOutlet(curriculumTitleLabel, "curriculumTitleLabel");
  auto subtitle = requiredOutlet(curriculumSubtitleLabel, "curriculumSubtitleLabel");
  // A zero line height counts as no title lines; a title past four lines leaves no room.
  const double lineHeight = title->font().lineHeight();
  int titleLines = 0;
  if (lineHeight > 0) {
    titleLines = static_cast<int>(
        std::clamp(std::trunc(title->bounds().size.height / lineHeight), 0.0, static_cast<double>(kMaxLines)));
  }
  subtitle->setHidden(titleLines == kMaxLines);
  if (titleLines < kMaxLines) subtitle->setNumberOfLines(kMaxLines - titleLines);
}
