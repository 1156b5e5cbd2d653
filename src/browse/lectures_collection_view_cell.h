#pragma once

#include <memory>

#include "model/lecture.h"
#include "platform/ui/ui_collection_view_cell.h"
#include "platform/ui/ui_image_view.h"
#include "platform/ui/ui_label.h"

// A lecture's tile: its picture, and its name on a bar in the lecture's colours.
class LecturesCollectionViewCell : public UICollectionViewCell {
 public:
  static constexpr const char* kReuseIdentifier = "lecturesCell";

  explicit LecturesCollectionViewCell(CGRect frame = {}) : UICollectionViewCell(frame) {}
  explicit LecturesCollectionViewCell(const NSCoder& coder) : UICollectionViewCell(coder) {}

  std::weak_ptr<UIImageView> lectureImageView;
  std::weak_ptr<UILabel> lectureLabel;
  std::weak_ptr<UIView> bottomView;

  void awakeFromNib() override;
  // The name scales with the tile; an uncoloured lecture leaves the bar and text as they were.
  void configure(const Lecture& lecture);
  // The tile draws nothing of its own.
  bool drawsOnlyReportedState() const override;
};
