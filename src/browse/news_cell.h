#pragma once

#include <memory>

#include "model/news.h"
#include "platform/ui/ns_layout_constraint.h"
#include "platform/ui/ui_label.h"
#include "platform/ui/ui_table_view_cell.h"

// A news item: title, description and date beside a bar in its lecture's colour.
class NewsCell : public UITableViewCell {
 public:
  static constexpr const char* kReuseIdentifier = "newsCell";
  using UITableViewCell::UITableViewCell;

  std::weak_ptr<UIView> lectureColorView;
  std::weak_ptr<UILabel> titleLabel;
  std::weak_ptr<UILabel> descriptionLabel;
  std::weak_ptr<UILabel> dateLabel;
  std::weak_ptr<NSLayoutConstraint> separatorHeightConstraint;

  void awakeFromNib() override;
  // The date in the strings table's pattern, in the device's time zone; an item without colours
  // leaves the bar as it was.
  void configure(const News& news);
};
