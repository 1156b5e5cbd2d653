#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/ui/reuse_identifier.h"
#include "platform/ui/ui_view.h"

class UIImageView;
class UILabel;

enum class UITableViewCellStyle : std::uint8_t { Default, Value1, Value2, Subtitle };
enum class UITableViewCellAccessoryType : std::uint8_t {
  None,
  DisclosureIndicator,
  DetailDisclosureButton,
  Checkmark,
  DetailButton
};
enum class UITableViewCellSelectionStyle : std::uint8_t { None, Blue, Gray, Default };
enum class UITableViewCellEditingStyle { None, Delete, Insert };

// A row of a table. Its content lives in contentView (a shared view that may outlive the cell);
// the standard labels and image view are made on first use, the detail label only for styles
// that have one.
class UITableViewCell : public UIView {
 public:
  static std::shared_ptr<UITableViewCell> make(UITableViewCellStyle style = UITableViewCellStyle::Default,
                                               std::optional<std::string> reuseIdentifier = std::nullopt);
  static constexpr auto kGridCellKind = ui_detail::GridCellKind::TableRow;
  explicit UITableViewCell(UITableViewCellStyle style = UITableViewCellStyle::Default,
                           std::optional<std::string> reuseIdentifier = std::nullopt);
  explicit UITableViewCell(const NSCoder&) : UITableViewCell() {}
  ~UITableViewCell() override;

  UITableViewCellStyle style() const { return style_; }
  const std::optional<std::string>& reuseIdentifier() const { return *reuseIdentifier_; }
  void setReuseIdentifier(std::optional<std::string> id) { reuseIdentifier_ = &sharedReuseIdentifier(std::move(id)); }

  std::shared_ptr<UIView> contentView() const;
  std::shared_ptr<UILabel> textLabel() const;
  // nullptr for the Default style.
  std::shared_ptr<UILabel> detailTextLabel() const;
  std::shared_ptr<UIImageView> imageView() const;

  UITableViewCellAccessoryType accessoryType() const { return accessoryType_; }
  void setAccessoryType(UITableViewCellAccessoryType t) { accessoryType_ = t; }
  const std::shared_ptr<UIView>& accessoryView() const;
  void setAccessoryView(std::shared_ptr<UIView> v);
  UITableViewCellSelectionStyle selectionStyle() const { return selectionStyle_; }
  void setSelectionStyle(UITableViewCellSelectionStyle s) { selectionStyle_ = s; }
  UIEdgeInsets separatorInset() const;
  void setSeparatorInset(UIEdgeInsets i);

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
  template <class>
  friend class ui_detail::CellGrid;
  mutable ui_detail::GridCellState gridState_;
  // The standard parts, made when first asked for: custom cells have their own.
  struct Parts;
  Parts& parts() const;

  const std::optional<std::string>* reuseIdentifier_;
  mutable std::shared_ptr<UIView> contentView_;
  mutable std::unique_ptr<Parts> parts_;
  UITableViewCellStyle style_;
  UITableViewCellAccessoryType accessoryType_ = UITableViewCellAccessoryType::None;
  UITableViewCellSelectionStyle selectionStyle_ = UITableViewCellSelectionStyle::Default;
  bool selected_ = false;
  bool highlighted_ = false;
  bool editing_ = false;
};
