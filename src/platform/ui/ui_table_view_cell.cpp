#include "platform/ui/ui_table_view_cell.h"

#include <algorithm>

#include "platform/ui/render.h"
#include "platform/ui/ui_image_view.h"
#include "platform/ui/ui_label.h"

std::shared_ptr<UITableViewCell> UITableViewCell::make(UITableViewCellStyle style,
                                                       std::optional<std::string> reuseIdentifier) {
  return std::make_shared<UITableViewCell>(style, std::move(reuseIdentifier));
}

namespace {

constexpr UIEdgeInsets kSeparatorInset{0, 15, 0, 0};

}  // namespace

struct UITableViewCell::Parts {
  std::shared_ptr<UILabel> textLabel;
  std::shared_ptr<UILabel> detailTextLabel;
  std::shared_ptr<UIImageView> imageView;
  std::shared_ptr<UIView> accessoryView;
  UIEdgeInsets separatorInset = kSeparatorInset;
};

UITableViewCell::UITableViewCell(UITableViewCellStyle style, std::optional<std::string> reuseIdentifier)
    : UIView(CGRect{{0, 0}, {320, 44}}),
      reuseIdentifier_(&sharedReuseIdentifier(std::move(reuseIdentifier))),
      style_(style) {
  setGridCellKind(kGridCellKind);
}

UITableViewCell::~UITableViewCell() = default;

UITableViewCell::Parts& UITableViewCell::parts() const {
  if (!parts_) parts_ = std::make_unique<Parts>();
  return *parts_;
}

// Parts join the tree on first use (a constructor cannot hand out the cell as a superview).
std::shared_ptr<UIView> UITableViewCell::contentView() const {
  if (!contentView_) {
    contentView_ = UIView::make(bounds());
    const_cast<UITableViewCell*>(this)->insertSubview(contentView_, 0);
  }
  return contentView_;
}

std::shared_ptr<UIImageView> UITableViewCell::imageView() const {
  auto& p = parts();
  if (!p.imageView) {
    p.imageView = UIImageView::make();
    contentView()->insertSubview(p.imageView, 0);
  }
  return p.imageView;
}

std::shared_ptr<UILabel> UITableViewCell::textLabel() const {
  auto& p = parts();
  if (!p.textLabel) {
    p.textLabel = UILabel::make();
    auto content = contentView();
    // Title before the detail label, whatever was asked for first.
    std::size_t at = content->subviews().size();
    if (p.detailTextLabel) {
      const auto& subs = content->subviews();
      at = static_cast<std::size_t>(std::find(subs.begin(), subs.end(), p.detailTextLabel) - subs.begin());
    }
    content->insertSubview(p.textLabel, at);
  }
  return p.textLabel;
}

std::shared_ptr<UILabel> UITableViewCell::detailTextLabel() const {
  if (style_ == UITableViewCellStyle::Default) return nullptr;
  auto& p = parts();
  if (!p.detailTextLabel) {
    p.detailTextLabel = UILabel::make();
    contentView()->addSubview(p.detailTextLabel);
  }
  return p.detailTextLabel;
}

const std::shared_ptr<UIView>& UITableViewCell::accessoryView() const {
  static const std::shared_ptr<UIView> none;
  return parts_ ? parts_->accessoryView : none;
}

void UITableViewCell::setAccessoryView(std::shared_ptr<UIView> v) {
  if (!v && !parts_) return;
  auto& accessory = parts().accessoryView;
  if (accessory) accessory->removeFromSuperview();
  accessory = std::move(v);
  if (accessory) addSubview(accessory);
}

UIEdgeInsets UITableViewCell::separatorInset() const { return parts_ ? parts_->separatorInset : kSeparatorInset; }

void UITableViewCell::setSeparatorInset(UIEdgeInsets i) { parts().separatorInset = i; }

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
