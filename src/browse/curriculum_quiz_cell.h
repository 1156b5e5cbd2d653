#pragma once

#include <memory>

#include "platform/ui/ns_layout_constraint.h"
#include "platform/ui/ui_image_view.h"
#include "platform/ui/ui_label.h"
#include "platform/ui/ui_table_view_cell.h"

// A curriculum of a lecture: round picture, name, and how many of its quizzes the student has done.
class CurriculumQuizCell : public UITableViewCell {
 public:
  static constexpr const char* kReuseIdentifier = "curriculumQuizCell";
  using UITableViewCell::UITableViewCell;

  std::weak_ptr<UIImageView> curriculumImageView;
  std::weak_ptr<UILabel> curriculumNameLabel;
  std::weak_ptr<UILabel> quizCountLabel;
  std::weak_ptr<NSLayoutConstraint> separatorLineHeight;

  void awakeFromNib() override;
};
