#pragma once

#include <memory>

#include "platform/ui/ns_layout_constraint.h"
#include "platform/ui/ui_image_view.h"
#include "platform/ui/ui_label.h"
#include "platform/ui/ui_table_view_cell.h"

// The lecture's description.
class LectureDetailsDescriptionCell : public UITableViewCell {
 public:
  using UITableViewCell::UITableViewCell;
  std::weak_ptr<UILabel> descriptionLabel;
};

// A section's title; the table shows its content view.
class LectureDetailsHeaderCell : public UITableViewCell {
 public:
  using UITableViewCell::UITableViewCell;
  std::weak_ptr<UILabel> titleLabel;
};

// A curriculum: round picture, title, and as much subtitle as the title leaves room for in four
// lines.
class LectureDetailsCurriculumCell : public UITableViewCell {
 public:
  static constexpr int kMaxLines = 4;
  using UITableViewCell::UITableViewCell;

  std::weak_ptr<UIImageView> curriculumImageView;
  std::weak_ptr<UILabel> curriculumTitleLabel;
  std::weak_ptr<UILabel> curriculumSubtitleLabel;
  std::weak_ptr<NSLayoutConstraint> separatorLineHeight;

  void awakeFromNib() override;
  void layoutSubviews() override;
};
