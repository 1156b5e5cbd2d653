#include "platform/ui/ui_table_view_cell.h"

#include <algorithm>

#include "platform/ui/render.h"
#include "platform/ui/ui_image_view.h"
#include "platform/ui/ui_label.h"

std::shared_ptr<UITableViewCell> UITableViewCell::make(UITableViewCellStyle style,
                                                       std::optional<std::string> reuseIdentifier) {
  return std::make_shared<UITableViewCell>(style, std::move(reuseIdentifier));
}

UITableViewCell::UITableViewCell(UITableViewCellStyle style, std::optional<std::string> reuseIdentifier)
    : UIView(CGRect{{0, 0}, {320, 44}}), style_(style), reuseIdentifier_(std::move(reuseIdentifier)) {}

// Parts join the tree on first use (a constructor cannot hand out the cell as a superview).
std::shared_ptr<UIView> UITableViewCell::contentView() const {
  if (!contentView_) {
    contentView_ = UIView::make(bounds());
    const_cast<UITableViewCell*>(this)->insertSubview(contentView_, 0);
  }
  return contentView_;
}

std::shared_ptr<UIImageView> UITableViewCell::imageView() const {
  if (!imageView_) {
    imageView_ = UIImageView::make();
    contentView()->insertSubview(imageView_, 0);
  }
  return imageView_;
}

std::shared_ptr<UILabel> UITableViewCell::textLabel() const {
  if (!textLabel_) {
    textLabel_ = UILabel::make();
    auto content = contentView();
    // Title before the detail label, whatever was asked for first.
    std::size_t at = content->subviews().size();
    if (detailTextLabel_) {
      const auto& subs = content->subviews();
      at = static_cast<std::size_t>(std::find(subs.begin(), subs.end(), detailTextLabel_) - subs.begin());
    }
    content->insertSubview(textLabel_, at);
  }
  return textLabel_;
}

std::shared_ptr<UILabel> UITableViewCell::detailTextLabel() const {
  if (style_ == UITableViewCellStyle::Default) return nullptr;
  if (!detailTextLabel_) {
    detailTextLabel_ = UILabel::make();
    contentView()->addSubview(detailTextLabel_);
  }
  return detailTextLabel_;
}

void UITableViewCell::setAccessoryView(std::shared_ptr<UIView> v) {
  if (accessoryView_) accessoryView_->removeFromSuperview();
  accessoryView_ = std::move(v);
  if (accessoryView_) addSubview(accessoryView_);
}

void UITableViewCell::setSelected(bool selected, bool) { selected_ = selected; }
void UITableViewCell::setHighlighted(bool highlighted, bool) { highlighted_ = highlighted; }
void UITableViewCell::setEditing(bool editing, bool) { editing_ = editing; }

CGSize UITableViewCell::systemLayoutSizeFittingSize(CGSize targetSize) const {
  if (!contentView_) return bounds().size;
  return contentView_->systemLayoutSizeFittingSize(targetSize);
}

void UITableViewCell::renderSubviews(TextCanvas& canvas) const {
  UIView::renderSubviews(canvas);
  switch (accessoryType_) {
    case UITableViewCellAccessoryType::DisclosureIndicator: canvas.line(">"); break;
    case UITableViewCellAccessoryType::Checkmark: canvas.line("\u2713"); break;
    case UITableViewCellAccessoryType::DetailDisclosureButton:
    case UITableViewCellAccessoryType::DetailButton: canvas.line("(i)"); break;
    case UITableViewCellAccessoryType::None: break;
  }
}
