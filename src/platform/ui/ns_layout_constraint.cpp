#include "platform/ui/ns_layout_constraint.h"

#include "platform/ui/ui_view.h"

std::shared_ptr<NSLayoutConstraint> NSLayoutConstraint::make() { return std::make_shared<NSLayoutConstraint>(); }

std::shared_ptr<NSLayoutConstraint> NSLayoutConstraint::constraintWithItem(
    const std::shared_ptr<UIView>& item, NSLayoutAttribute attribute, NSLayoutRelation relatedBy,
    const std::shared_ptr<UIView>& toItem, NSLayoutAttribute toAttribute, CGFloat multiplier, CGFloat constant) {
  auto c = make();
  c->firstItem_ = item;
  c->firstAttribute_ = attribute;
  c->relation_ = relatedBy;
  c->secondItem_ = toItem;
  c->secondAttribute_ = toAttribute;
  c->multiplier_ = multiplier;
  c->constant_ = constant;
  return c;
}

const std::string& NSLayoutConstraint::identifier() const {
  static const std::string none;
  return identifier_ ? *identifier_ : none;
}

void NSLayoutConstraint::setIdentifier(std::string id) {
  if (id.empty() && !identifier_) return;
  identifier_ = std::make_unique<std::string>(std::move(id));
}

void NSLayoutConstraint::setConstant(CGFloat c) {
  if (c != constant_) UIView::layoutInputChanged();
  constant_ = c;
}

void NSLayoutConstraint::setActive(bool a) {
  if (a != active_) UIView::layoutInputChanged();
  active_ = a;
}

namespace {

std::shared_ptr<UIView> holderOf(const NSLayoutConstraint& c) {
  auto first = c.firstItem();
  auto second = c.secondItem();
  if (!first || !second) return first;
  if (second == first->superview()) return second;
  if (first == second->superview()) return first;
  if (auto super = first->superview(); super && super == second->superview()) return super;
  return first;
}

}  // namespace

void NSLayoutConstraint::activateConstraints(const std::vector<std::shared_ptr<NSLayoutConstraint>>& constraints) {
  for (const auto& c : constraints) {
    if (!c) continue;
    c->setActive(true);
    if (auto holder = holderOf(*c)) holder->addConstraint(c);
  }
}

void NSLayoutConstraint::deactivateConstraints(const std::vector<std::shared_ptr<NSLayoutConstraint>>& constraints) {
  for (const auto& c : constraints) {
    if (!c) continue;
    c->setActive(false);
    for (const auto& item : {c->firstItem(), c->secondItem()}) {
      if (item) item->removeConstraint(c);
      if (auto super = item ? item->superview() : nullptr) super->removeConstraint(c);
    }
  }
}
