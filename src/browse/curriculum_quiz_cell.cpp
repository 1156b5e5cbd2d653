#include "browse/curriculum_quiz_cell.h"

#include "browse/browse_support.h"
#include "platform/ui/ui_screen.h"

void CurriculumQuizCell::awakeFromNib() {
  UITableViewCell::awakeFromNib();
  auto image = requiredOutlet(curriculumImageView, "curriculumImageView");
  image->layer().masksToBounds = true;
  image->layer().cornerRadius = 30;
  requiredOutlet(separatorLineHeight, "separatorLineHeight")->setConstant(1 / UIScreen::mainScreen()->scale());
}
