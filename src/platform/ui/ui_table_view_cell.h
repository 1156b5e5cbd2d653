#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/ui/ui_view.h"

class UIImageView;
class UILabel;

enum class UITableViewCellStyle { Default, Value1, Value2, Subtitle };
enum class UITableViewCellAccessoryType { None, DisclosureIndicator, DetailDisclosureButton, Checkmark, DetailButton };
enum class UITableViewCellSelectionStyle { None, Blue, Gray, Default };
enum class UITableViewCellEditingStyle { None, Delete, Insert };

// A row of a table. Its content lives in contentView (a shared view that may outlive the cell);
// the standard labels and image view are made on first use, the detail label only for styles
// that have one.
class UITableViewCell : public UIView {
 public:
  static std::shared_ptr<UITableViewCell> make(UITableViewCellStyle style = UITableViewCellStyle::Default,
                                               std::optional<std::string> reuseIdentifier = std::nullopt);
  explicit UITableViewCell(UITableViewCellStyle style = UITableViewCellStyle::Default,
                           std::optional<std::string> reuseIdentifier = std::nullopt);
  explicit UITableViewCell(const NSCoder&) : UITableViewCell() {}

  UITableViewCellStyle style() const { return style_; }
  const std::optional<std::string>& reuseIdentifier() const { return reuseIdentifier_; }
  void setReuseIdentifier(std::optional<std::string> id) { reuseIdentifier_ = std::move(id); }

  std::shared_ptr<UIView> contentView() const;
  std::shared_ptr<UILabel> textLabel() const;
  // nullptr for the Default style.
  std::shared_ptr<UILabel> detailTextLabel() const;
  std::shared_ptr<UIImageView> imageView() const;

  UITableViewCellAccessoryType accessoryType() const { return accessoryType_; }
  void setAccessoryType(UITableViewCellAccessoryType t) { accessoryType_ = t; }
  const std::shared_ptr<UIView>& accessoryView() const { return accessoryView_; }
  void setAccessoryView(std::shared_ptr<UIView> v);
  UITableViewCellSelectionStyle selectionStyle() const { return selectionStyle_; }
  void setSelectionStyle(UITableViewCellSelectionStyle s) { selectionStyle_ = s; }
  UIEdgeInsets separatorInset() const { return separatorInset_; }
  void setSeparatorInset(UIEdgeInsets i) { separatorInset_ = i; }

  bool isSelected() const { return selected_; }
  virtual void setSelected(bool selected, bool animated = false);
  bool isHighlighted() const { return highlighted_; }
  virtual void setHighlighted(bool highlighted, bool animated = false);
  bool isEditing() const { return editing_; }
  virtual void setEditing(bool editing, bool animated = false);

  // Called by the table before it hands the cell out again.
  virtual void prepareForReuse() {}

  CGSize systemLayoutSizeFittingSize(CGSize targetSize) const override;

 protected:
  void renderSubviews(TextCanvas& canvas) const override;

 private:
  UITableViewCellStyle style_;
  std::optional<std::string> reuseIdentifier_;
  mutable std::shared_ptr<UIView> contentView_;
  mutable std::shared_ptr<UILabel> textLabel_;
  mutable std::shared_ptr<UILabel> detailTextLabel_;
  mutable std::shared_ptr<UIImageView> imageView_;
  UITableViewCellAccessoryType accessoryType_ = UITableViewCellAccessoryType::None;
  std::shared_ptr<UIView> accessoryView_;
  UITableViewCellSelectionStyle selectionStyle_ = UITableViewCellSelectionStyle::Default;
  UIEdgeInsets separatorInset_{0, 15, 0, 0};
  bool selected_ = false;
  bool highlighted_ = false;
  bool editing_ = false;
};
