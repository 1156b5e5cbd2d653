#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/geometry.h"
#include "platform/ui/grid_cell_state.h"
#include "platform/ui/ui_color.h"
#include "platform/ui/ui_responder.h"

class NSLayoutConstraint;

inline constexpr CGFloat UIViewNoIntrinsicMetric = -1;
class TextCanvas;
class UIGestureRecognizer;
class UIWindow;

// A layer's colour, or none; reads and compares like an optional colour. Stored apart: the
// layers of a list's cells round their corners and clip, and seldom have a colour.
class CALayerColor {
 public:
  CALayerColor() = default;
  CALayerColor(std::nullopt_t) {}
  CALayerColor(const UIColor& color) : color_(std::make_unique<UIColor>(color)) {}
  CALayerColor(const std::optional<UIColor>& color) : color_(color ? std::make_unique<UIColor>(*color) : nullptr) {}
  CALayerColor(const CALayerColor& other) : CALayerColor(other.optional()) {}
  CALayerColor(CALayerColor&&) noexcept = default;
  CALayerColor& operator=(CALayerColor other) noexcept {
    color_ = std::move(other.color_);
    return *this;
  }

  explicit operator bool() const { return color_ != nullptr; }
  bool has_value() const { return color_ != nullptr; }
  const UIColor& operator*() const { return *color_; }
  const UIColor* operator->() const { return color_.get(); }
  std::optional<UIColor> optional() const { return color_ ? std::optional(*color_) : std::nullopt; }

  friend bool operator==(const CALayerColor& a, const CALayerColor& b) {
    return a.color_ ? b.color_ && *a.color_ == *b.color_ : !b.color_;
  }
  friend bool operator==(const CALayerColor& a, const UIColor& b) { return a.color_ && *a.color_ == b; }

 private:
  std::unique_ptr<UIColor> color_;
};

// The drawing layer's appearance values.
struct CALayer {
  CGFloat cornerRadius = 0;
  CGFloat borderWidth = 0;
  CALayerColor borderColor;
  CALayerColor shadowColor;
  CGSize shadowOffset{0, -3};
  CGFloat shadowRadius = 3;
  float shadowOpacity = 0;
  bool masksToBounds = false;
};

enum class UIViewContentMode : std::uint8_t {
  ScaleToFill,
  ScaleAspectFit,
  ScaleAspectFill,
  Redraw,
  Center,
  Top,
  Bottom,
  Left,
  Right,
  TopLeft,
  TopRight,
  BottomLeft,
  BottomRight
};

// A rectangle in a tree of views. Geometry and looks are stored values (there is no drawing, and
// layout knows only edge constraints to the superview); the tree, visibility, touchability, first
// responder and the text rendering are behaviour.
class UIView : public UIResponder {
 public:
  static std::shared_ptr<UIView> make(CGRect frame = {});
  explicit UIView(CGRect frame = {});
  explicit UIView(const NSCoder&) : UIView(CGRect{}) {}
  ~UIView() override;
  UIView(const UIView&) = delete;
  UIView& operator=(const UIView&) = delete;

  // Tree. Adding a view that already has a superview moves it; adding a view to itself or to one
  // of its own descendants is refused (it would make a cycle).
  void addSubview(const std::shared_ptr<UIView>& view);
  void insertSubview(const std::shared_ptr<UIView>& view, std::size_t index);
  void removeFromSuperview();
  void bringSubviewToFront(const std::shared_ptr<UIView>& view);
  const std::vector<std::shared_ptr<UIView>>& subviews() const {
    if (subviewHoles_) closeSubviewHoles();
    return subviews_;
  }
  std::shared_ptr<UIView> superview() const;
  bool isSubviewOf(const UIView& view) const { return superview_ == &view; }
  // The window at the root of the tree, if the tree is in one.
  std::shared_ptr<UIWindow> window() const;
  bool isDescendantOfView(const UIView& ancestor) const;
  // Depth-first, this view included.
  std::shared_ptr<UIView> viewWithTag(int tag);
  // The first visible view (depth-first, this view included, views outside shown content left
  // out) whose accessibility identifier or label is `name`. The console driver addresses views
  // this way.
  std::shared_ptr<UIView> viewWithAccessibilityIdentifier(const std::string& name);

  // The platform's storyboard hook; scene builders call it once after making the view.
  virtual void awakeFromNib() {}

  // Geometry (stored values; bounds follows the frame's size).
  CGRect frame() const { return frame_; }
  void setFrame(CGRect frame);
  CGRect bounds() const { return {boundsOrigin(), frame_.size}; }
  void setBounds(CGRect bounds);
  CGPoint center() const { return {frame_.midX(), frame_.midY()}; }
  void setCenter(CGPoint center);

  // Looks.
  const std::optional<UIColor>& backgroundColor() const;
  void setBackgroundColor(std::optional<UIColor> color);
  // Own tint, else the nearest ancestor's, else the system tint: never empty.
  UIColor tintColor() const;
  void setTintColor(std::optional<UIColor> color);
  const std::optional<UIColor>& ownTintColor() const;
  virtual void tintColorDidChange() {}
  CGFloat alpha() const { return alpha_; }
  void setAlpha(CGFloat alpha) {
    if (alpha != alpha_) renderInputChanged();
    alpha_ = alpha;
  }
  bool isOpaque() const { return opaque_; }
  void setOpaque(bool v) { opaque_ = v; }
  bool clipsToBounds() const { return layer().masksToBounds; }
  void setClipsToBounds(bool v);
  UIViewContentMode contentMode() const { return contentMode_; }
  void setContentMode(UIViewContentMode m) { contentMode_ = m; }
  CALayer& layer();
  const CALayer& layer() const;

  // Visibility and interaction.
  bool isHidden() const { return hidden_; }
  bool hidden() const { return hidden_; }
  void setHidden(bool hidden) {
    if (hidden != hidden_) renderInputChanged();
    hidden_ = hidden;
  }
  bool isUserInteractionEnabled() const { return userInteractionEnabled_; }
  void setUserInteractionEnabled(bool v) {
    if (v != userInteractionEnabled_) renderInputChanged();
    userInteractionEnabled_ = v;
  }
  // Not hidden (nor transparent) itself or through an ancestor.
  bool isVisibleInTree() const;
  // Inside what its ancestors show: a paged scroll view shows its current page only, so views on
  // other pages are neither drawn nor addressed (the cut of renderSubviewsWithin).
  bool isWithinShownContent() const;
  // Visible, interaction enabled along the whole chain, and not beneath an overlay that blocks
  // touches. A tap on a view that answers false reaches nothing.
  bool canReceiveTouches() const;
  // A finger's tap on the view: touchesBegan, the tap recognisers of the view and its ancestors,
  // then touchesEnded (touchesCancelled when a recogniser cancels touches in the view). Touches
  // the view does not handle travel up the responder chain (its controller, its superview...).
  // Refused (false, nothing sent) when the view cannot receive touches. Controls do their own.
  virtual bool tap();
  // Overlays (the progress HUD) answer true while they keep touches from the views beneath:
  // views of the same window in branches added before the overlay's. Only views that called
  // mayBlockTouchesBeneath() are asked.
  virtual bool blocksTouchesBeneath() const { return false; }

  // Identification.
  int tag() const;
  void setTag(int tag);
  const std::string& accessibilityIdentifier() const;
  void setAccessibilityIdentifier(std::string id);
  const std::string& accessibilityLabel() const;
  void setAccessibilityLabel(std::string label);

  // Constraints. There is no solver: layout gives a view the frame that its active, equal,
  // multiplier-1 constraints to its superview (or to a free-standing guide such as a controller's
  // topLayoutGuide) and its fixed width and height fix; an edge left open keeps the frame's value,
  // a size left open takes the intrinsic size when there is one. Adding activates, removing
  // deactivates.
  bool translatesAutoresizingMaskIntoConstraints() const { return translatesAutoresizing_; }
  void setTranslatesAutoresizingMaskIntoConstraints(bool v) { translatesAutoresizing_ = v; }
  void addConstraint(const std::shared_ptr<NSLayoutConstraint>& constraint);
  void addConstraints(const std::vector<std::shared_ptr<NSLayoutConstraint>>& constraints);
  void removeConstraint(const std::shared_ptr<NSLayoutConstraint>& constraint);
  const std::vector<std::shared_ptr<NSLayoutConstraint>>& constraints() const;
  // The view's chance to adjust its own constraints; callers may also send it directly.
  virtual void updateConstraints() {}
  // Sets the frame from the constraints above; a view without any keeps its frame.
  void applyEdgeConstraints();
  // The size the content asks for; UIViewNoIntrinsicMetric in an axis without one.
  virtual CGSize intrinsicContentSize() const;

  // Gesture recognisers (the view keeps them; they point back weakly).
  void addGestureRecognizer(const std::shared_ptr<UIGestureRecognizer>& recognizer);
  void removeGestureRecognizer(const std::shared_ptr<UIGestureRecognizer>& recognizer);
  const std::vector<std::shared_ptr<UIGestureRecognizer>>& gestureRecognizers() const;

  // Layout. setNeedsLayout marks the view, and so does a change of its size; layoutIfNeeded runs
  // layoutSubviews on every marked view of the subtree, top-down, and clears the marks. Before a
  // view's layoutSubviews, its subtree takes its frames from the constraints.
  void setNeedsLayout();
  bool needsLayout() const { return needsLayout_; }
  // Moves whenever something a layout pass reads changes: a frame, the tree, a constraint, a
  // label's text or font. A pass over a tree while it stands still would change nothing.
  static std::uint64_t layoutGeneration();
  static void layoutInputChanged();
  void layoutIfNeeded();
  virtual void layoutSubviews() {}
  virtual CGSize sizeThatFits(CGSize size) const;
  // There is no constraint solver: a view with visible subviews stacks them vertically (the
  // target width, or the view's own, and the sum of their fitting heights); a view without
  // answers its own size. Labels measure their text.
  virtual CGSize systemLayoutSizeFittingSize(CGSize targetSize) const;
  void sizeToFit();

  // Animations run at once; the duration is only recorded.
  static void animateWithDuration(double duration, const std::function<void()>& animations,
                                  const std::function<void(bool finished)>& completion = {});
  static void performWithoutAnimation(const std::function<void()>& actions);
  static bool areAnimationsEnabled();
  static double lastAnimationDuration();

  // First responder of this view's tree (window or detached tree).
  bool canBecomeFirstResponder() const override { return false; }
  bool becomeFirstResponder() override;
  bool resignFirstResponder() override;
  bool isFirstResponder() const override;
  std::shared_ptr<UIResponder> currentFirstResponder() const;
  // Resigns the first responder if it is in this subtree. With force the resignation cannot be
  // refused. Returns whether the subtree holds no first responder afterwards.
  bool endEditing(bool force);

  // The controller whose root view this is answers as the next responder; else the superview.
  std::shared_ptr<UIResponder> nextResponder() const override;
  void setOwningResponder(std::weak_ptr<UIResponder> owner);

  // Writes the view and its subtree; hidden (or fully transparent) views write nothing.
  virtual void render(TextCanvas& canvas) const;
  // What the subtree writes can only have changed while this stayed the same if a view in it
  // answers false to drawsOnlyReportedState. Stamps taken with stampForKeeping() differ from
  // every stamp of a later change.
  std::uint32_t renderStamp() const { return renderStamp_; }
  std::uint32_t stampForKeeping() const;
  // True when everything this view's own render, renderSelf and renderSubviews read reports its
  // changes through renderInputChanged. A class answers for itself only (a subclass may draw more),
  // hence the exact type.
  virtual bool drawsOnlyReportedState() const;
  // Which list cell class this view is, if any.
  ui_detail::GridCellKind gridCellKind() const { return gridCellKind_; }

 protected:
  void setGridCellKind(ui_detail::GridCellKind kind) { gridCellKind_ = kind; }
  // The view's own lines (none for a plain view).
  virtual void renderSelf(TextCanvas& canvas) const;
  // The subviews' lines, in order.
  virtual void renderSubviews(TextCanvas& canvas) const;
  // The same, leaving out the subviews that lie wholly outside `visible` (this view's
  // coordinates), and cutting plain container views the same way further down. A view without a
  // size (nothing laid it out) always shows.
  void renderSubviewsWithin(TextCanvas& canvas, CGRect visible) const;
  // The part of this view's content (its bounds coordinates) that its subviews show in; nothing
  // when all of it shows.
  virtual std::optional<CGRect> shownContentRect() const { return std::nullopt; }
  // A view whose blocksTouchesBeneath may answer true calls this once (in its constructor).
  void mayBlockTouchesBeneath();
  // Setters of what render reads call this when the value really changes: it moves the stamps
  // of this view and its ancestors.
  void renderInputChanged();
  // Non-null on the window class only (lets window() work without knowing that class).
  virtual UIWindow* asWindow() { return nullptr; }
  // Takes the first responder of this view's tree; the previous one (if any and other than this)
  // must agree to resign first.
  bool claimFirstResponder();
  // Lets go of the first responder of this view's tree if it is this view.
  void releaseFirstResponder();
  // Resignation that cannot be refused (endEditing(true), leaving the tree). Subclasses that end
  // editing override it to send their end-of-editing events without asking their delegate.
  virtual void forceResignFirstResponder() { releaseFirstResponder(); }

 private:
  UIView* rootView() const;
  CGPoint boundsOrigin() const;
  void applyEdgeConstraintsInSubtree();
  // Marks the ancestors: a view below them needs layout.
  void markLayoutAbove();
  void applyEdgeConstraintsWithin(const UIView* super);
  bool holdsConstraints() const;
  std::size_t constraintsBelow() const;
  // Adds `delta` to the constraints below this view and each of its ancestors.
  void countConstraintsBelow(std::ptrdiff_t delta);
  void attach(const std::shared_ptr<UIView>& view, std::size_t index);
  void dropSubview(const UIView& view);
  // Takes out the slots that dropSubview emptied, keeping the order.
  void closeSubviewHoles() const;
  // Where `view` stands in subviews_ (its size when it is not there).
  std::size_t subviewIndex(const UIView& view) const;
  // `framesTakenAt`: the layoutSubviews count when the caller's subtree took its frames; none
  // for the view a pass starts from.
  void layoutPass(std::optional<std::uint64_t> framesTakenAt);
  void layoutPassBelow(std::uint64_t framesTakenAt);
  // A layout request moves the pass's generation but none of the frames' inputs.
  static void layoutRequested();
  // The frame inputs' count when a pass started here last left its subtree's frames all taken
  // (0: never).
  std::uint64_t framesTakenRootAt() const;
  void setFramesTakenRootAt(std::uint64_t count);
  struct PinIndex;
  struct Extras;
  // The constraints this view holds that may pin `view` (all of them while there are few).
  template <class F>
  void forEachConstraintPinning(const UIView& view, F&& f) const;
  void reindexConstraints();
  Extras& extras();
  struct RareExtras;
  const RareExtras* rare() const;
  struct LayoutExtras;
  const LayoutExtras* layoutExtras() const;
  // The first responder the root of a tree keeps.
  std::shared_ptr<UIResponder> storedFirstResponder() const;
  void setStoredFirstResponder(std::weak_ptr<UIResponder> responder);
  void forgetFirstResponder();
  // The first responder of this view's tree when it is this view or one of its descendants;
  // `root`, when given, is the root of this view's tree.
  std::shared_ptr<UIView> firstResponderInSubtree(const UIView* root = nullptr) const;

  // It holds this view among its subviews and clears this when it goes.
  UIView* superview_ = nullptr;
  // A subview taken out leaves an empty slot (subviewHoles_) until the list is next read: taking out
  // thousands of cells one by one then costs no move of the rest each time.
  mutable std::vector<std::shared_ptr<UIView>> subviews_;

  CGRect frame_;  // the bounds have its size, and an origin kept apart (scrolled content only)
  CGFloat alpha_ = 1;
  // What most views never set, each made when first set: a list of thousands of cells holds
  // thousands of views, and a cell's views touch their layer and little else.
  std::unique_ptr<Extras> extras_;
  std::unique_ptr<CALayer> layer_;
  UIViewContentMode contentMode_ = UIViewContentMode::ScaleToFill;
  ui_detail::GridCellKind gridCellKind_ = ui_detail::GridCellKind::None;
  // Flags in bits: a list of thousands of cells holds thousands of views.
  bool opaque_ : 1 = true;
  bool hidden_ : 1 = false;
  bool userInteractionEnabled_ : 1 = true;
  bool translatesAutoresizing_ : 1 = true;
  bool needsLayout_ : 1 = false;
  // A view below this one needs layout (set up the tree from it, cleared as a pass goes by).
  bool layoutBelow_ : 1 = false;
  mutable bool subviewHoles_ : 1 = false;
  std::uint32_t renderStamp_ = 0;
};
