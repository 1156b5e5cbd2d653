#pragma once

// What the view's source files share: the side records a view makes on first use, and the
// snapshots its tree walks take.

#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/ui/ns_layout_constraint.h"
#include "platform/ui/ui_gesture_recognizer.h"
#include "platform/ui/ui_view.h"

namespace ui_view_detail {

// The subviews of a view as they were when taken, kept alive while what is called for each may
// change the tree. Walks of a tree of thousands nest them: one list per depth of nesting serves
// every view at that depth, instead of a copy per view.
class SubviewsSnapshot {
 public:
  explicit SubviewsSnapshot(const std::vector<std::shared_ptr<UIView>>& views) : views_(take()) {
    views_.assign(views.begin(), views.end());
  }
  ~SubviewsSnapshot() {
    views_.clear();
    --depth();
  }
  SubviewsSnapshot(const SubviewsSnapshot&) = delete;
  SubviewsSnapshot& operator=(const SubviewsSnapshot&) = delete;
  auto begin() const { return views_.cbegin(); }
  auto end() const { return views_.cend(); }

 private:
  static std::size_t& depth() {
    static std::size_t d = 0;
    return d;
  }
  static std::vector<std::shared_ptr<UIView>>& take() {
    // A deque keeps the lists taken in place; never destroyed, as views may be let go at exit.
    static auto* lists = new std::deque<std::vector<std::shared_ptr<UIView>>>();
    if (lists->size() <= depth()) lists->resize(depth() + 1);
    return (*lists)[depth()++];
  }
  std::vector<std::shared_ptr<UIView>>& views_;
};

}  // namespace ui_view_detail

// The constraints a view holds, by the views they pin, in the order held. Made once a view holds
// more than a few: a container whose rows each pin to it answers each row without a scan.
struct UIView::PinIndex {
  static constexpr std::size_t kScanLimit = 4;
  std::unordered_map<const UIView*, std::vector<const NSLayoutConstraint*>> byView;

  void add(const NSLayoutConstraint& c) {
    auto first = c.firstItem();
    auto second = c.secondItem();
    if (first) byView[first.get()].push_back(&c);
    if (second && second != first) byView[second.get()].push_back(&c);
  }
};

// What almost only the screens' own views set, one step further away than the extras.
struct UIView::RareExtras {
  std::optional<UIColor> tintColor;
  std::weak_ptr<UIResponder> owner;
  std::weak_ptr<UIResponder> firstResponder;  // kept by the root of a tree only
  std::vector<std::shared_ptr<UIGestureRecognizer>> gestureRecognizers;
  std::string accessibilityIdentifier;
  std::string accessibilityLabel;
  CGPoint boundsOrigin;
  int tag = 0;
  std::uint64_t framesTakenRootAt = 0;
};

// The constraints a view holds, and how many its subtree holds.
struct UIView::LayoutExtras {
  std::vector<std::shared_ptr<NSLayoutConstraint>> constraints;
  std::unique_ptr<PinIndex> pinIndex;
  // Constraints held in this view's subtree, its own included: a layout pass leaves out branches
  // without any (the cells of a grid).
  std::size_t constraintsBelow = 0;
};

// What a cell's views set now and then: a bar's colour, a separator's height.
struct UIView::Extras {
  std::optional<UIColor> backgroundColor;
  std::unique_ptr<LayoutExtras> layout;
  std::unique_ptr<RareExtras> rare;

  RareExtras& rarely() {
    if (!rare) rare = std::make_unique<RareExtras>();
    return *rare;
  }
  LayoutExtras& laidOut() {
    if (!layout) layout = std::make_unique<LayoutExtras>();
    return *layout;
  }
};
