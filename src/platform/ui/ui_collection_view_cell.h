#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/ui/grid_cell_state.h"
#include "platform/ui/reuse_identifier.h"
#include "platform/ui/ui_view.h"

// Base of the views a collection view hands out again by reuse identifier.
class UICollectionReusableView : public UIView {
 public:
  explicit UICollectionReusableView(CGRect frame = {}) : UIView(frame) {}
  explicit UICollectionReusableView(const NSCoder&) : UICollectionReusableView(CGRect{}) {}

  const std::optional<std::string>& reuseIdentifier() const { return *reuseIdentifier_; }
  void setReuseIdentifier(std::optional<std::string> id) { reuseIdentifier_ = &sharedReuseIdentifier(std::move(id)); }
  // Called by the collection view before it hands the view out again.
  virtual void prepareForReuse() {}

 private:
  const std::optional<std::string>* reuseIdentifier_ = &sharedReuseIdentifier(std::nullopt);
};

// An item of a collection. Its content lives in contentView, made on first use.
class UICollectionViewCell : public UICollectionReusableView {
 public:
  static std::shared_ptr<UICollectionViewCell> make(CGRect frame = {});
  static constexpr auto kGridCellKind = ui_detail::GridCellKind::CollectionItem;
  explicit UICollectionViewCell(CGRect frame = {}) : UICollectionReusableView(frame) { setGridCellKind(kGridCellKind); }
  explicit UICollectionViewCell(const NSCoder&) : UICollectionViewCell(CGRect{}) {}

  std::shared_ptr<UIView> contentView() const;
  const std::shared_ptr<UIView>& backgroundView() const;
  void setBackgroundView(std::shared_ptr<UIView> v) { views().background = std::move(v); }
  const std::shared_ptr<UIView>& selectedBackgroundView() const;
  void setSelectedBackgroundView(std::shared_ptr<UIView> v) { views().selectedBackground = std::move(v); }

  bool isSelected() const { return selected_; }
  virtual void setSelected(bool selected) { selected_ = selected; }
  bool isHighlighted() const { return highlighted_; }
  virtual void setHighlighted(bool highlighted) { highlighted_ = highlighted; }

  CGSize systemLayoutSizeFittingSize(CGSize targetSize) const override;
  bool drawsOnlyReportedState() const override;

 private:
  template <class>
  friend class ui_detail::CellGrid;
  mutable ui_detail::GridCellState gridState_;
  // Made when one of them is first set: the tiles of a long grid hold their views directly.
  struct Views {
    std::shared_ptr<UIView> content, background, selectedBackground;
  };
  Views& views() const {
    if (!views_) views_ = std::make_unique<Views>();
    return *views_;
  }
  mutable std::unique_ptr<Views> views_;
  bool selected_ = false;
  bool highlighted_ = false;
};
