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

void NSLayoutConstraint::activateConstraints(const std::vector<std::shared_ptr<NSLayoutConstraint>>& constraints) {
  for (const auto& c : constraints) {
    if (c) c->active_ = true;
  }
}

void NSLayoutConstraint::deactivateConstraints(const std::vector<std::shared_ptr<NSLayoutConstraint>>& constraints) {
  for (const auto& c : constraints) {
    if (c) c->active_ = false;
  }
}
