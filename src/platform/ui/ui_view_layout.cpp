#include <algorithm>
#include <optional>
#include <utility>

#include "platform/ui/ui_view.h"
#include "platform/ui/ui_view_internals.h"

using ui_view_detail::SubviewsSnapshot;

namespace {

// A constraint fixes one of these per axis.
struct AxisPins {
  std::optional<CGFloat> min, max, center, size;
};

// Where `attribute` lies on `r`, and on which axis (0: x, 1: y).
std::optional<std::pair<int, CGFloat>> attributeValue(NSLayoutAttribute attribute, const CGRect& r) {
  switch (attribute) {
    case NSLayoutAttribute::Left:
    case NSLayoutAttribute::Leading: return std::pair{0, r.minX()};
    case NSLayoutAttribute::Right:
    case NSLayoutAttribute::Trailing: return std::pair{0, r.maxX()};
    case NSLayoutAttribute::CenterX: return std::pair{0, r.midX()};
    case NSLayoutAttribute::Width: return std::pair{0, r.width()};
    case NSLayoutAttribute::Top: return std::pair{1, r.minY()};
    case NSLayoutAttribute::Bottom: return std::pair{1, r.maxY()};
    case NSLayoutAttribute::CenterY: return std::pair{1, r.midY()};
    case NSLayoutAttribute::Height: return std::pair{1, r.height()};
    default: return std::nullopt;
  }
}

void setPin(AxisPins& pins, NSLayoutAttribute attribute, CGFloat value) {
  switch (attribute) {
    case NSLayoutAttribute::Left:
    case NSLayoutAttribute::Leading:
    case NSLayoutAttribute::Top: pins.min = value; break;
    case NSLayoutAttribute::Right:
    case NSLayoutAttribute::Trailing:
    case NSLayoutAttribute::Bottom: pins.max = value; break;
    case NSLayoutAttribute::CenterX:
    case NSLayoutAttribute::CenterY: pins.center = value; break;
    case NSLayoutAttribute::Width:
    case NSLayoutAttribute::Height: pins.size = value; break;
    default: break;
  }
}

// Origin and length on one axis from what is pinned; `intrinsic` is negative when there is none.
std::pair<CGFloat, CGFloat> solveAxis(const AxisPins& p, CGFloat origin, CGFloat length, CGFloat intrinsic) {
  if (p.min && p.max) return {*p.min, std::max<CGFloat>(0, *p.max - *p.min)};
  if (!p.size && p.center && (p.min || p.max)) {
    CGFloat half = p.min ? *p.center - *p.min : *p.max - *p.center;
    return {*p.center - half, std::max<CGFloat>(0, 2 * half)};
  }
  if (p.size) {
    length = *p.size;
  } else if (intrinsic >= 0) {
    length = intrinsic;
  }
  if (p.min) return {*p.min, length};
  if (p.max) return {*p.max - length, length};
  if (p.center) return {*p.center - length / 2, length};
  return {origin, length};
}

}  // namespace

template <class F>
void UIView::forEachConstraintPinning(const UIView& view, F&& f) const {
  auto layout = layoutExtras();
  if (!layout) return;
  const auto& index = layout->pinIndex;
  if (!index) {
    for (const auto& c : layout->constraints) f(*c);
    return;
  }
  auto it = index->byView.find(&view);
  if (it == index->byView.end()) return;
  for (const auto* c : it->second) f(*c);
}

void UIView::reindexConstraints() {
  auto& x = extras().laidOut();
  x.pinIndex.reset();
  if (x.constraints.size() <= PinIndex::kScanLimit) return;
  x.pinIndex = std::make_unique<PinIndex>();
  for (const auto& c : x.constraints) x.pinIndex->add(*c);
}

void UIView::addConstraint(const std::shared_ptr<NSLayoutConstraint>& constraint) {
  if (!constraint) return;
  constraint->setActive(true);
  auto& x = extras().laidOut();
  if (std::find(x.constraints.begin(), x.constraints.end(), constraint) != x.constraints.end()) return;
  layoutInputChanged();
  x.constraints.push_back(constraint);
  countConstraintsBelow(1);
  if (x.pinIndex) {
    x.pinIndex->add(*constraint);
  } else if (x.constraints.size() > PinIndex::kScanLimit) {
    reindexConstraints();
  }
}

void UIView::addConstraints(const std::vector<std::shared_ptr<NSLayoutConstraint>>& constraints) {
  for (const auto& c : constraints) addConstraint(c);
}

void UIView::removeConstraint(const std::shared_ptr<NSLayoutConstraint>& constraint) {
  if (!layoutExtras()) return;
  auto& x = *extras_->layout;
  auto it = std::find(x.constraints.begin(), x.constraints.end(), constraint);
  if (it == x.constraints.end()) return;
  constraint->setActive(false);
  layoutInputChanged();
  x.constraints.erase(std::remove(x.constraints.begin(), x.constraints.end(), constraint), x.constraints.end());
  countConstraintsBelow(-1);
  if (x.pinIndex) reindexConstraints();
}

void UIView::addGestureRecognizer(const std::shared_ptr<UIGestureRecognizer>& recognizer) {
  if (!recognizer) return;
  if (auto previous = recognizer->view(); previous && previous.get() != this) {
    previous->removeGestureRecognizer(recognizer);
  }
  auto& recognizers = extras().rarely().gestureRecognizers;
  if (std::find(recognizers.begin(), recognizers.end(), recognizer) == recognizers.end()) {
    recognizers.push_back(recognizer);
    renderInputChanged();
  }
  recognizer->setView(sharedAs<UIView>());
}

void UIView::removeGestureRecognizer(const std::shared_ptr<UIGestureRecognizer>& recognizer) {
  if (!rare()) return;
  auto& recognizers = extras_->rare->gestureRecognizers;
  auto it = std::find(recognizers.begin(), recognizers.end(), recognizer);
  if (it == recognizers.end()) return;
  recognizers.erase(it);
  renderInputChanged();
  recognizer->setView(nullptr);
}

void UIView::setNeedsLayout() {
  layoutRequested();
  needsLayout_ = true;
  markLayoutAbove();
}

CGSize UIView::intrinsicContentSize() const { return {UIViewNoIntrinsicMetric, UIViewNoIntrinsicMetric}; }

void UIView::applyEdgeConstraints() {
  applyEdgeConstraintsWithin(superview_);
}

bool UIView::holdsConstraints() const {
  auto layout = layoutExtras();
  return layout && !layout->constraints.empty();
}

std::size_t UIView::constraintsBelow() const {
  auto layout = layoutExtras();
  return layout ? layout->constraintsBelow : 0;
}

void UIView::countConstraintsBelow(std::ptrdiff_t delta) {
  if (delta == 0) return;
  for (UIView* v = this; v; v = v->superview_) {
    auto& below = v->extras().laidOut().constraintsBelow;
    below = static_cast<std::size_t>(static_cast<std::ptrdiff_t>(below) + delta);
  }
}

void UIView::applyEdgeConstraintsWithin(const UIView* super) {
  // Most views of a big tree (cells and what they hold) have no constraint to look at.
  if (!holdsConstraints() && (!super || !super->holdsConstraints())) return;
  AxisPins pins[2];
  bool any = false;
  auto consider = [&](const NSLayoutConstraint& c) {
    if (!c.isActive() || c.relation() != NSLayoutRelation::Equal) return;
    auto first = c.firstItem();
    auto second = c.secondItem();
    if (first.get() == this && !second) {  // a fixed width or height
      auto a = attributeValue(c.firstAttribute(), frame_);
      if (!a || (c.firstAttribute() != NSLayoutAttribute::Width && c.firstAttribute() != NSLayoutAttribute::Height))
        return;
      setPin(pins[a->first], c.firstAttribute(), c.constant());
      any = true;
      return;
    }
    if (c.multiplier() != 1 || !first || !second) return;
    const bool thisFirst = first.get() == this;
    auto other = thisFirst ? second : first;
    if (other.get() == this) return;
    // The superview in its own coordinates; a guide outside the tree in the superview's.
    CGRect reference;
    if (other.get() == super) {
      reference = super->bounds();
    } else if (!other->superview() && !other->asWindow()) {
      reference = other->frame_;
    } else {
      return;
    }
    auto mine = thisFirst ? c.firstAttribute() : c.secondAttribute();
    auto theirs = attributeValue(thisFirst ? c.secondAttribute() : c.firstAttribute(), reference);
    auto axis = attributeValue(mine, frame_);
    if (!theirs || !axis || theirs->first != axis->first) return;
    // first = second + constant
    setPin(pins[axis->first], mine, thisFirst ? theirs->second + c.constant() : theirs->second - c.constant());
    any = true;
  };
  forEachConstraintPinning(*this, consider);
  if (super) super->forEachConstraintPinning(*this, consider);
  if (!any) return;
  CGRect f = frame_;
  std::tie(f.origin.x, f.size.width) = solveAxis(pins[0], f.origin.x, f.size.width, intrinsicContentSize().width);
  // The height may follow the width just found (wrapped text).
  setFrame(f);
  std::tie(f.origin.y, f.size.height) = solveAxis(pins[1], f.origin.y, f.size.height, intrinsicContentSize().height);
  setFrame(f);
}

void UIView::applyEdgeConstraintsInSubtree() {
  const bool holds = holdsConstraints();
  for (const auto& s : subviews()) {
    // No frame in a branch without constraints, under a view without any, can move.
    if (!holds && s->constraintsBelow() == 0) continue;
    s->applyEdgeConstraintsWithin(this);
    s->applyEdgeConstraintsInSubtree();
  }
}

namespace {

// How many layoutSubviews calls have changed what a pass reads; main thread only, as layout is.
std::uint64_t layoutSubviewsRuns = 0;
std::uint64_t layoutInputChanges = 0;
// What frames from constraints read: every input but a request for layout. Starts past 0, the
// count a pass root that never took its frames holds.
std::uint64_t frameInputChanges = 1;

}  // namespace

std::uint64_t UIView::layoutGeneration() { return layoutInputChanges; }

void UIView::layoutInputChanged() {
  ++layoutInputChanges;
  ++frameInputChanges;
}

void UIView::layoutRequested() { ++layoutInputChanges; }

void UIView::layoutIfNeeded() { layoutPass(std::nullopt); }

// Frames from constraints only change when the frames they read change, and within a pass only a
// layoutSubviews moves those: a subtree whose frames were taken since the last one that changed
// anything keeps them (a list placing its cells where they already are changes nothing).
void UIView::layoutPass(std::optional<std::uint64_t> framesTakenAt) {
  const bool markedBelow = layoutBelow_;
  layoutBelow_ = false;  // what is marked from here on is looked at by this pass or the next
  const bool root = !framesTakenAt;
  const auto runsBefore = layoutSubviewsRuns;
  if (framesTakenAt != layoutSubviewsRuns) {
    // A tree whose frames were all taken, with nothing they read changed since, keeps them.
    if (!root || framesTakenRootAt() != frameInputChanges) applyEdgeConstraintsInSubtree();
    framesTakenAt = layoutSubviewsRuns;
  }
  if (needsLayout_) {
    needsLayout_ = false;
    const auto before = frameInputChanges;
    layoutSubviews();
    if (frameInputChanges != before) ++layoutSubviewsRuns;
  }
  // No view below is marked (a mark made before reached this view, one made since marks it
  // again) and no frame below is to be taken: the subviews are not even read.
  if (markedBelow || layoutBelow_ || *framesTakenAt != layoutSubviewsRuns) layoutPassBelow(*framesTakenAt);
  // Taken top-down with no layoutSubviews changing anything after: every frame of the tree is
  // where its constraints put it.
  if (root && layoutSubviewsRuns == runsBefore) setFramesTakenRootAt(frameInputChanges);
}

void UIView::layoutPassBelow(std::uint64_t framesTakenAt) {
  if (subviews().empty()) return;
  const bool holds = holdsConstraints();
  SubviewsSnapshot keep(subviews_);
  for (const auto& s : keep) {
    // A branch where no view needs layout has nothing to do when its frames were taken since the
    // last layoutSubviews that changed anything, or when no constraint can move one of its frames.
    // Its views are then not even read: a list of many cells is not walked again.
    if (!s->needsLayout_ && !s->layoutBelow_ &&
        (framesTakenAt == layoutSubviewsRuns || (!holds && s->constraintsBelow() == 0)))
      continue;
    s->layoutPass(framesTakenAt);
  }
}

std::uint64_t UIView::framesTakenRootAt() const {
  auto r = rare();
  return r ? r->framesTakenRootAt : 0;
}

void UIView::setFramesTakenRootAt(std::uint64_t count) {
  // A view without subviews takes no frame: its passes cost nothing to redo.
  if (!subviews_.empty()) extras().rarely().framesTakenRootAt = count;
}

void UIView::markLayoutAbove() {
  for (UIView* v = superview_; v && !v->layoutBelow_; v = v->superview_) {
    v->layoutBelow_ = true;
  }
}

CGSize UIView::sizeThatFits(CGSize) const { return frame_.size; }

CGSize UIView::systemLayoutSizeFittingSize(CGSize targetSize) const {
  CGFloat width = targetSize.width > 0 ? targetSize.width : frame_.size.width;
  bool any = false;
  CGFloat height = 0;
  for (const auto& s : subviews()) {
    if (s->hidden_) continue;
    any = true;
    height += s->systemLayoutSizeFittingSize(CGSize{width, 0}).height;
  }
  return any ? CGSize{width, height} : frame_.size;
}

void UIView::sizeToFit() {
  CGSize s = sizeThatFits(frame_.size);
  setFrame(CGRect{frame_.origin, s});
}
