#pragma once

#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "model/color.h"
#include "platform/foundation/fatal_error.h"
#include "platform/ui/ns_layout_constraint.h"
#include "platform/ui/ui_nib.h"

// The quiz screens' own colours.
namespace quiz_colors {
// The grey of the strip's separator and of unanswered selector buttons.
inline const UIColor& divider() {
  static const UIColor color = colorWithHexRGBString("d1d3d4");
  return color;
}
// A chosen answer tile.
inline const UIColor& chosen() {
  static const UIColor color = colorWithHexRGBString("ffc107");
  return color;
}
// The border and text of an answer evaluated right.
inline const UIColor& evaluatedRight() {
  static const UIColor color = colorWithHexRGBString("149636");
  return color;
}
// A selector button of a question evaluated wrong, and right.
inline const UIColor& wrongButton() {
  static const UIColor color = colorWithHexRGBString("ed1c24");
  return color;
}
inline const UIColor& rightButton() {
  static const UIColor color = colorWithHexRGBString("00a651");
  return color;
}
}  // namespace quiz_colors

// The first object of the nib `nibName` as a T; a nib that starts with anything else stops the
// program.
template <class T>
std::shared_ptr<T> firstNibObject(const char* nibName) {
  auto objects = loadNibNamed(nibName);
  auto object = objects.empty() ? nullptr : std::dynamic_pointer_cast<T>(objects.front());
  if (!object) fatalError(std::string("The nib ") + nibName + " does not start with its object");
  return object;
}

// `item` held to the same `edges` of `to`, in that order, not yet added to any view.
inline std::vector<std::shared_ptr<NSLayoutConstraint>> edgeConstraints(
    const std::shared_ptr<UIView>& item, const std::shared_ptr<UIView>& to,
    std::initializer_list<NSLayoutAttribute> edges) {
  std::vector<std::shared_ptr<NSLayoutConstraint>> constraints;
  for (auto edge : edges)
    constraints.push_back(NSLayoutConstraint::constraintWithItem(item, edge, NSLayoutRelation::Equal, to, edge, 1, 0));
  return constraints;
}
