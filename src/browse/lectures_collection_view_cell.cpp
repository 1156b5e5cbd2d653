#include "browse/lectures_collection_view_cell.h"

#include <algorithm>
#include <typeinfo>

#include "browse/browse_support.h"

void LecturesCollectionViewCell::awakeFromNib() {
  UICollectionViewCell::awakeFromNib();
  auto label = requiredOutlet(lectureLabel, "lectureLabel");
  label->setShadowOffset({0, 1});
  label->setShadowColor(UIColor::darkGrayColor());
  label->layer().masksToBounds = true;
}

void LecturesCollectionViewCell::configure(const Lecture& lecture) {
  auto label = requiredOutlet(lectureLabel, "lectureLabel");
  label->setText(lecture.name());
  // A cell sized on a zero first layout pass gets no negative font size.
  label->setFont(label->font().fontWithSize(std::max<CGFloat>(0, bounds().size.height / 10)));
  setBrowsePicture(*requiredOutlet(lectureImageView, "lectureImageView"), lecture.pictureUrl());
  if (const auto& colors = lecture.colors()) {
    requiredOutlet(bottomView, "bottomView")->setBackgroundColor(colors->primary);
    label->setTextColor(colors->primaryText);
    auto offset = label->shadowOffset();
    offset.height = colors->primaryText == UIColor::whiteColor() ? 1 : 0;
    label->setShadowOffset(offset);
  }
}

bool LecturesCollectionViewCell::drawsOnlyReportedState() const {
  return typeid(*this) == typeid(LecturesCollectionViewCell);
}
