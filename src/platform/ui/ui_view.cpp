#include "platform/ui/ui_view.h"

#include <algorithm>
#include <tuple>
#include <typeinfo>

#include "platform/ui/render.h"
#include "platform/ui/ui_view_internals.h"

namespace {

struct AnimationState {
  bool enabled = true;
  double lastDuration = 0;
};

AnimationState& animationState() {
  static AnimationState state;
  return state;
}

// Views this transparent are neither drawn nor touched, as on the platform.
constexpr CGFloat kInvisibleAlpha = 0.01;

bool hasArea(const CGRect& r) { return r.size.width > 0 && r.size.height > 0; }

bool intersects(const CGRect& a, const CGRect& b) {
  return a.minX() < b.maxX() && b.minX() < a.maxX() && a.minY() < b.maxY() && b.minY() < a.maxY();
}

bool isPlainView(const UIView& v) { return typeid(v) == typeid(UIView); }

// The views that may block touches are few (the HUD's container): a branch is checked by asking
// each of them whether it shows in the branch, not by walking the branch (a grid of thousands).
std::vector<const UIView*>& touchBlockers() {
  static auto* views = new std::vector<const UIView*>();  // views may outlive static destruction
  return *views;
}

bool subtreeBlocksTouches(const UIView& v) {
  for (const UIView* blocker : touchBlockers()) {
    std::shared_ptr<UIView> holder;
    const UIView* u = blocker;
    while (u && !u->isHidden() && u->alpha() >= kInvisibleAlpha && u != &v) u = (holder = u->superview()).get();
    if (u == &v && !v.isHidden() && v.alpha() >= kInvisibleAlpha && blocker->blocksTouchesBeneath()) return true;
  }
  return false;
}

}  // namespace

UIView::Extras& UIView::extras() {
  if (!extras_) extras_ = std::make_unique<Extras>();
  return *extras_;
}

namespace {

// What an unset optional member of the side records reads as.
const std::optional<UIColor> kNoColor;
const std::string kNoName;

}  // namespace

CALayer& UIView::layer() {
  if (!layer_) layer_ = std::make_unique<CALayer>();
  return *layer_;
}

const CALayer& UIView::layer() const {
  static const CALayer plain;
  return layer_ ? *layer_ : plain;
}

void UIView::setClipsToBounds(bool v) {
  if (v || layer_) layer().masksToBounds = v;
}

const std::optional<UIColor>& UIView::backgroundColor() const { return extras_ ? extras_->backgroundColor : kNoColor; }

void UIView::setBackgroundColor(std::optional<UIColor> color) {
  if (color == backgroundColor()) return;
  // Subclasses may draw it (an answer tile's look).
  renderInputChanged();
  extras().backgroundColor = std::move(color);
}

const UIView::RareExtras* UIView::rare() const { return extras_ ? extras_->rare.get() : nullptr; }

const UIView::LayoutExtras* UIView::layoutExtras() const { return extras_ ? extras_->layout.get() : nullptr; }

int UIView::tag() const {
  auto r = rare();
  return r ? r->tag : 0;
}

void UIView::setTag(int tag) {
  if (tag != 0 || rare()) extras().rarely().tag = tag;
}

const std::optional<UIColor>& UIView::ownTintColor() const {
  auto r = rare();
  return r ? r->tintColor : kNoColor;
}

const std::string& UIView::accessibilityIdentifier() const {
  auto r = rare();
  return r ? r->accessibilityIdentifier : kNoName;
}

void UIView::setAccessibilityIdentifier(std::string id) {
  if (id == accessibilityIdentifier()) return;
  renderInputChanged();
  extras().rarely().accessibilityIdentifier = std::move(id);
}

const std::string& UIView::accessibilityLabel() const {
  auto r = rare();
  return r ? r->accessibilityLabel : kNoName;
}

void UIView::setAccessibilityLabel(std::string label) {
  if (!label.empty() || rare()) extras().rarely().accessibilityLabel = std::move(label);
}

const std::vector<std::shared_ptr<NSLayoutConstraint>>& UIView::constraints() const {
  static const std::vector<std::shared_ptr<NSLayoutConstraint>> none;
  auto layout = layoutExtras();
  return layout ? layout->constraints : none;
}

const std::vector<std::shared_ptr<UIGestureRecognizer>>& UIView::gestureRecognizers() const {
  static const std::vector<std::shared_ptr<UIGestureRecognizer>> none;
  auto r = rare();
  return r ? r->gestureRecognizers : none;
}

void UIView::setOwningResponder(std::weak_ptr<UIResponder> owner) { extras().rarely().owner = std::move(owner); }

std::shared_ptr<UIResponder> UIView::storedFirstResponder() const {
  auto r = rare();
  return r ? r->firstResponder.lock() : nullptr;
}

void UIView::setStoredFirstResponder(std::weak_ptr<UIResponder> responder) {
  extras().rarely().firstResponder = std::move(responder);
}

void UIView::forgetFirstResponder() {
  if (auto r = extras_ ? extras_->rare.get() : nullptr) r->firstResponder.reset();
}

std::shared_ptr<UIView> UIView::make(CGRect frame) { return std::make_shared<UIView>(frame); }

UIView::UIView(CGRect frame) : frame_(frame) {}

UIView::~UIView() {
  if (!touchBlockers().empty()) std::erase(touchBlockers(), this);
  // Subviews that others keep alive are without a superview from now on.
  for (const auto& s : subviews_) {
    if (s) s->superview_ = nullptr;
  }
}

void UIView::mayBlockTouchesBeneath() {
  auto& blockers = touchBlockers();
  if (std::find(blockers.begin(), blockers.end(), this) == blockers.end()) blockers.push_back(this);
}

UIView* UIView::rootView() const {
  const UIView* v = this;
  while (v->superview_) v = v->superview_;
  return const_cast<UIView*>(v);
}

void UIView::addSubview(const std::shared_ptr<UIView>& view) {
  if (!view) return;
  attach(view, subviews_.size() + (view->superview_ == this ? 0 : 1) - 1);
}

void UIView::insertSubview(const std::shared_ptr<UIView>& view, std::size_t index) {
  if (!view) return;
  attach(view, index);
}

void UIView::bringSubviewToFront(const std::shared_ptr<UIView>& view) {
  if (view && view->superview_ == this) attach(view, subviews_.size() - 1);
}

std::shared_ptr<UIView> UIView::firstResponderInSubtree(const UIView* root) const {
  auto fr = std::dynamic_pointer_cast<UIView>((root ? root : rootView())->storedFirstResponder());
  if (fr && (fr.get() == this || fr->isDescendantOfView(*this))) return fr;
  return nullptr;
}

void UIView::attach(const std::shared_ptr<UIView>& view, std::size_t index) {
  // One walk up finds the root and refuses a cycle (`view` on the way, this view included).
  UIView* newRoot = this;
  while (newRoot != view.get() && newRoot->superview_) newRoot = newRoot->superview_;
  if (newRoot == view.get()) return;
  auto oldSuper = view->superview();
  if (oldSuper.get() == this) {
    // Reordering among siblings only.
    if (subviewHoles_) closeSubviewHoles();
    const std::size_t from = subviewIndex(*view);
    const std::size_t to = std::min(index, subviews_.size() - 1);
    if (from == to) return;
    const auto at = [this](std::size_t i) { return subviews_.begin() + static_cast<std::ptrdiff_t>(i); };
    if (from < to) {
      std::rotate(at(from), at(from + 1), at(to + 1));
    } else {
      std::rotate(at(to), at(from), at(from + 1));
    }
    renderInputChanged();
    return;
  }
  UIView* oldRoot = view->rootView();
  if (auto fr = view->firstResponderInSubtree(oldRoot)) {
    // A first responder moves with its tree only into a tree that has none.
    auto current = newRoot->storedFirstResponder();
    if (current && current != fr) {
      fr->forceResignFirstResponder();
    } else {
      newRoot->setStoredFirstResponder(fr);
    }
    oldRoot->forgetFirstResponder();
  }
  const auto moving = static_cast<std::ptrdiff_t>(view->constraintsBelow());
  if (oldSuper) {
    oldSuper->dropSubview(*view);
    oldSuper->countConstraintsBelow(-moving);
  }
  countConstraintsBelow(moving);
  layoutInputChanged();
  renderInputChanged();
  // A view no shared pointer owns (one being made) is nobody's superview.
  view->superview_ = weak_from_this().expired() ? nullptr : this;
  // An index among the subviews shown counts no empty slot; a full list closes them up rather than grow.
  if (subviewHoles_ && (index < subviews_.size() || subviews_.size() == subviews_.capacity())) closeSubviewHoles();
  const std::size_t at = std::min(index, subviews_.size());
  subviews_.insert(subviews_.begin() + static_cast<std::ptrdiff_t>(at), view);
  if (view->needsLayout_ || view->layoutBelow_) view->markLayoutAbove();
}

void UIView::removeFromSuperview() {
  auto sup = superview();
  if (!sup) return;
  auto self = sharedAs<UIView>();  // keeps this alive while its superview lets go
  UIView* oldRoot = rootView();
  if (auto fr = firstResponderInSubtree(oldRoot)) {
    fr->forceResignFirstResponder();
    auto root = rootView();
    if (root->storedFirstResponder() == fr) root->forgetFirstResponder();
  }
  sup->dropSubview(*this);
  sup->countConstraintsBelow(-static_cast<std::ptrdiff_t>(constraintsBelow()));
  superview_ = nullptr;
  layoutInputChanged();
}

namespace {

// Where a subview was last taken out, and of which view. A list's reload takes its cells out one
// after the other, so the next one stands beside the last: found without a search. Only a hint:
// what it points at is checked.
struct LastDrop {
  const UIView* superview = nullptr;
  std::size_t at = 0;
} lastDrop;

}  // namespace

std::size_t UIView::subviewIndex(const UIView& view) const {
  const std::size_t count = subviews_.size();
  auto holds = [&](std::size_t i) { return i < count && subviews_[i].get() == &view; };
  // The views added last (a table's rows) are often the ones taken out soonest.
  if (holds(count - 1)) return count - 1;
  if (lastDrop.superview == this) {
    for (std::size_t i : {lastDrop.at + 1, lastDrop.at - 1}) {
      if (holds(i)) return i;
    }
  }
  auto it = std::find_if(subviews_.begin(), subviews_.end(), [&](const auto& s) { return s.get() == &view; });
  return static_cast<std::size_t>(it - subviews_.begin());
}

void UIView::dropSubview(const UIView& view) {
  renderInputChanged();
  const std::size_t at = subviewIndex(view);
  if (at >= subviews_.size()) return;
  lastDrop = {this, at};
  // Emptied, not erased: the views after it stay where they are.
  if (at + 1 < subviews_.size()) {
    subviews_[at].reset();
    subviewHoles_ = true;
    return;
  }
  subviews_.pop_back();
  while (!subviews_.empty() && !subviews_.back()) subviews_.pop_back();
}

void UIView::closeSubviewHoles() const {
  subviewHoles_ = false;
  std::erase(subviews_, nullptr);
}

std::shared_ptr<UIView> UIView::superview() const {
  return superview_ ? std::static_pointer_cast<UIView>(superview_->weak_from_this().lock()) : nullptr;
}

std::shared_ptr<UIWindow> UIView::window() const {
  UIView* root = rootView();
  UIWindow* w = root->asWindow();
  if (!w) return nullptr;
  auto owner = root->weak_from_this().lock();
  if (!owner) return nullptr;
  return std::shared_ptr<UIWindow>(owner, w);
}

bool UIView::isDescendantOfView(const UIView& ancestor) const {
  for (const UIView* v = superview_; v; v = v->superview_) {
    if (v == &ancestor) return true;
  }
  return false;
}

std::shared_ptr<UIView> UIView::viewWithTag(int tag) {
  if (this->tag() == tag) return sharedAs<UIView>();
  for (const auto& s : subviews()) {
    if (auto found = s->viewWithTag(tag)) return found;
  }
  return nullptr;
}

std::shared_ptr<UIView> UIView::viewWithAccessibilityIdentifier(const std::string& name) {
  if (hidden_ || alpha_ < kInvisibleAlpha) return nullptr;
  if (!name.empty() && (accessibilityIdentifier() == name || accessibilityLabel() == name) && isWithinShownContent()) {
    return sharedAs<UIView>();
  }
  for (const auto& s : subviews()) {
    if (auto found = s->viewWithAccessibilityIdentifier(name)) return found;
  }
  return nullptr;
}

void UIView::setFrame(CGRect frame) {
  if (frame != frame_) layoutInputChanged();
  if (frame.size != frame_.size) {
    needsLayout_ = true;
    markLayoutAbove();
  }
  frame_ = frame;
}

CGPoint UIView::boundsOrigin() const {
  auto r = rare();
  return r ? r->boundsOrigin : CGPoint{};
}

void UIView::setBounds(CGRect bounds) {
  if (bounds != this->bounds()) layoutInputChanged();
  if (bounds.size != frame_.size) {
    needsLayout_ = true;
    markLayoutAbove();
  }
  CGPoint c = center();
  if (bounds.origin != boundsOrigin()) extras().rarely().boundsOrigin = bounds.origin;
  frame_.size = bounds.size;
  setCenter(c);
}

void UIView::setCenter(CGPoint center) {
  layoutInputChanged();
  frame_.origin = {center.x - frame_.size.width / 2, center.y - frame_.size.height / 2};
}

UIColor UIView::tintColor() const {
  for (const UIView* v = this; v; v = v->superview_) {
    if (const auto& own = v->ownTintColor()) return *own;
  }
  return UIColor::systemTintColor();
}

void UIView::setTintColor(std::optional<UIColor> color) {
  if (color || rare()) extras().rarely().tintColor = std::move(color);
  // Descendants that inherit see the change too.
  std::vector<UIView*> pending{this};
  while (!pending.empty()) {
    UIView* v = pending.back();
    pending.pop_back();
    v->tintColorDidChange();
    for (const auto& s : v->subviews()) {
      if (!s->ownTintColor()) pending.push_back(s.get());
    }
  }
}

bool UIView::isVisibleInTree() const {
  for (const UIView* v = this; v; v = v->superview_) {
    if (v->hidden_ || v->alpha_ < kInvisibleAlpha) return false;
  }
  return true;
}

bool UIView::isWithinShownContent() const {
  std::vector<const UIView*> path{this};
  for (const UIView* v = superview_; v; v = v->superview_) path.push_back(v);
  for (std::size_t i = 1; i < path.size(); ++i) {
    auto shown = path[i]->shownContentRect();
    if (!shown) continue;
    // Down from the clipping view, as renderSubviewsWithin cuts.
    CGRect visible = *shown;
    for (std::size_t j = i; j-- > 0;) {
      const UIView& v = *path[j];
      if (!hasArea(v.frame_)) break;
      if (!intersects(v.frame_, visible)) return false;
      if (!isPlainView(v)) break;
      const CGPoint origin = v.boundsOrigin();
      visible.origin = {visible.origin.x - v.frame_.origin.x + origin.x, visible.origin.y - v.frame_.origin.y + origin.y};
    }
  }
  return true;
}

bool UIView::canReceiveTouches() const {
  for (const UIView* v = this; v; v = v->superview_) {
    if (v->hidden_ || v->alpha_ < kInvisibleAlpha || !v->userInteractionEnabled_) return false;
  }
  // An overlay added later to any ancestor covers this branch.
  const UIView* child = this;
  for (const UIView* parent = superview_; parent; parent = parent->superview_) {
    const auto& siblings = parent->subviews();
    auto it = std::find_if(siblings.begin(), siblings.end(), [&](const auto& s) { return s.get() == child; });
    for (++it; it < siblings.end(); ++it) {
      if (subtreeBlocksTouches(**it)) return false;
    }
    child = parent;
  }
  return true;
}

bool UIView::tap() {
  if (!canReceiveTouches()) return false;
  auto self = sharedAs<UIView>();  // a handler may release the view's last owner
  std::vector<UITouch> touches{UITouch{UITouch::Phase::Began, center(), self}};
  UIEvent event{touches};
  touchesBegan(touches, &event);
  const bool reachesView = UIGestureRecognizer::deliverTap(*this);
  touches.front().phase = reachesView ? UITouch::Phase::Ended : UITouch::Phase::Cancelled;
  event.allTouches = touches;
  if (reachesView) {
    touchesEnded(touches, &event);
  } else {
    touchesCancelled(touches, &event);
  }
  return true;
}

void UIView::animateWithDuration(double duration, const std::function<void()>& animations,
                                 const std::function<void(bool)>& completion) {
  animationState().lastDuration = duration;
  if (animations) animations();
  if (completion) completion(true);
}

void UIView::performWithoutAnimation(const std::function<void()>& actions) {
  auto& st = animationState();
  bool was = st.enabled;
  st.enabled = false;
  if (actions) actions();
  st.enabled = was;
}

bool UIView::areAnimationsEnabled() { return animationState().enabled; }

double UIView::lastAnimationDuration() { return animationState().lastDuration; }

bool UIView::claimFirstResponder() {
  UIView* root = rootView();
  auto current = root->storedFirstResponder();
  if (current.get() == this) return true;
  if (current && !current->resignFirstResponder()) return false;
  root = rootView();  // the resignation may have moved things
  root->setStoredFirstResponder(weak_from_this());
  return true;
}

void UIView::releaseFirstResponder() {
  UIView* root = rootView();
  if (root->storedFirstResponder().get() == this) root->forgetFirstResponder();
}

bool UIView::becomeFirstResponder() { return canBecomeFirstResponder() && claimFirstResponder(); }

bool UIView::resignFirstResponder() {
  releaseFirstResponder();
  return true;
}

bool UIView::isFirstResponder() const { return rootView()->storedFirstResponder().get() == this; }

std::shared_ptr<UIResponder> UIView::currentFirstResponder() const { return rootView()->storedFirstResponder(); }

bool UIView::endEditing(bool force) {
  auto fr = firstResponderInSubtree();
  if (!fr) return true;
  if (force) {
    fr->forceResignFirstResponder();
    fr->releaseFirstResponder();
    return true;
  }
  return fr->resignFirstResponder() && !fr->isFirstResponder();
}

std::shared_ptr<UIResponder> UIView::nextResponder() const {
  if (auto r = rare()) {
    if (auto owner = r->owner.lock()) return owner;
  }
  return superview();
}

void UIView::render(TextCanvas& canvas) const {
  if (hidden_ || alpha_ < kInvisibleAlpha) return;
  renderSelf(canvas);
  renderSubviews(canvas);
}

void UIView::renderSelf(TextCanvas&) const {}

namespace {

// The stamp of the changes being made now; it moves on once one of its stamps is kept, so that a
// change after that carries another.
std::uint32_t renderEpoch = 1;

}  // namespace

std::uint32_t UIView::stampForKeeping() const {
  if (renderStamp_ == renderEpoch) ++renderEpoch;
  return renderStamp_;
}

bool UIView::drawsOnlyReportedState() const { return typeid(*this) == typeid(UIView); }

// A view marked in this epoch has its ancestors marked too (a view joining a tree marks its new
// ancestors), so the walk stops at the first one.
void UIView::renderInputChanged() {
  for (UIView* v = this; v && v->renderStamp_ != renderEpoch; v = v->superview_) v->renderStamp_ = renderEpoch;
}

void UIView::renderSubviews(TextCanvas& canvas) const {
  for (const auto& s : subviews()) s->render(canvas);
}

void UIView::renderSubviewsWithin(TextCanvas& canvas, CGRect visible) const {
  for (const auto& s : subviews()) {
    const CGRect f = s->frame_;
    if (!hasArea(f)) {
      s->render(canvas);
      continue;
    }
    if (!intersects(f, visible)) continue;
    if (!isPlainView(*s) || s->hidden_ || s->alpha_ < kInvisibleAlpha) {
      s->render(canvas);
      continue;
    }
    // A plain container (it draws nothing itself): its subviews are cut the same way.
    const CGPoint origin = s->boundsOrigin();
    CGPoint inside{visible.origin.x - f.origin.x + origin.x, visible.origin.y - f.origin.y + origin.y};
    s->renderSubviewsWithin(canvas, CGRect{inside, visible.size});
  }
}
