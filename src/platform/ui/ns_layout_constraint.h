#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/geometry.h"

class UIView;

enum class NSLayoutAttribute : std::uint8_t {
  NotAnAttribute = 0,
  Left = 1,
  Right,
  Top,
  Bottom,
  Leading,
  Trailing,
  Width,
  Height,
  CenterX,
  CenterY,
  LastBaseline,
  FirstBaseline,
};

enum class NSLayoutRelation : std::int8_t { LessThanOrEqual = -1, Equal = 0, GreaterThanOrEqual = 1 };

// A layout relation between two views, kept as values. There is no solver: layout reads only the
// equal, multiplier-1 relations of a view to its superview and fixed sizes (see UIView).
class NSLayoutConstraint {
 public:
  static std::shared_ptr<NSLayoutConstraint> make();
  static std::shared_ptr<NSLayoutConstraint> constraintWithItem(const std::shared_ptr<UIView>& item,
                                                                NSLayoutAttribute attribute, NSLayoutRelation relatedBy,
                                                                const std::shared_ptr<UIView>& toItem,
                                                                NSLayoutAttribute toAttribute, CGFloat multiplier,
                                                                CGFloat constant);
  // Activation adds each constraint to the view that holds it (the superview for a relation to
  // the superview or a sibling, else the first item); deactivation removes it.
  static void activateConstraints(const std::vector<std::shared_ptr<NSLayoutConstraint>>& constraints);
  static void deactivateConstraints(const std::vector<std::shared_ptr<NSLayoutConstraint>>& constraints);

  std::shared_ptr<UIView> firstItem() const { return firstItem_.lock(); }
  std::shared_ptr<UIView> secondItem() const { return secondItem_.lock(); }
  NSLayoutAttribute firstAttribute() const { return firstAttribute_; }
  NSLayoutAttribute secondAttribute() const { return secondAttribute_; }
  NSLayoutRelation relation() const { return relation_; }
  CGFloat multiplier() const { return multiplier_; }
  CGFloat constant() const { return constant_; }
  void setConstant(CGFloat c);
  bool isActive() const { return active_; }
  // Only sets the flag (views call it when they add or remove the constraint).
  void setActive(bool a);
  float priority() const { return priority_; }
  void setPriority(float p) { priority_ = p; }
  const std::string& identifier() const;
  void setIdentifier(std::string id);

 private:
  std::weak_ptr<UIView> firstItem_;
  std::weak_ptr<UIView> secondItem_;
  CGFloat multiplier_ = 1;
  CGFloat constant_ = 0;
  float priority_ = 1000;
  NSLayoutAttribute firstAttribute_ = NSLayoutAttribute::NotAnAttribute;
  NSLayoutAttribute secondAttribute_ = NSLayoutAttribute::NotAnAttribute;
  NSLayoutRelation relation_ = NSLayoutRelation::Equal;
  bool active_ = false;
  // Only the screens' named spacings have one; a cell's constraints do not.
  std::unique_ptr<std::string> identifier_;
};
