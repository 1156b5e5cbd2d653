#pragma once

#include <compare>
#include <set>

using CGFloat = double;

struct CGPoint {
  CGFloat x = 0;
  CGFloat y = 0;
  bool operator==(const CGPoint&) const = default;
};

struct CGSize {
  CGFloat width = 0;
  CGFloat height = 0;
  bool operator==(const CGSize&) const = default;
};

struct CGRect {
  CGPoint origin;
  CGSize size;

  static CGRect zero() { return {}; }
  CGFloat width() const { return size.width; }
  CGFloat height() const { return size.height; }
  CGFloat minX() const { return origin.x; }
  CGFloat minY() const { return origin.y; }
  CGFloat maxX() const { return origin.x + size.width; }
  CGFloat maxY() const { return origin.y + size.height; }
  CGFloat midX() const { return origin.x + size.width / 2; }
  CGFloat midY() const { return origin.y + size.height / 2; }
  bool operator==(const CGRect&) const = default;
};

inline CGRect CGRectMake(CGFloat x, CGFloat y, CGFloat w, CGFloat h) { return CGRect{{x, y}, {w, h}}; }
inline CGFloat CGRectGetWidth(const CGRect& r) { return r.size.width; }
inline CGFloat CGRectGetHeight(const CGRect& r) { return r.size.height; }
inline constexpr CGRect CGRectZero{};

struct UIEdgeInsets {
  CGFloat top = 0;
  CGFloat left = 0;
  CGFloat bottom = 0;
  CGFloat right = 0;
  bool operator==(const UIEdgeInsets&) const = default;
};

inline UIEdgeInsets UIEdgeInsetsMake(CGFloat top, CGFloat left, CGFloat bottom, CGFloat right) {
  return UIEdgeInsets{top, left, bottom, right};
}
inline constexpr UIEdgeInsets UIEdgeInsetsZero{};

inline CGRect UIEdgeInsetsInsetRect(const CGRect& r, const UIEdgeInsets& in) {
  return CGRectMake(r.origin.x + in.left, r.origin.y + in.top, r.size.width - in.left - in.right,
                    r.size.height - in.top - in.bottom);
}

// The smallest size that satisfies the constraints (fitting request).
inline constexpr CGSize UILayoutFittingCompressedSize{0, 0};

// Section and row (item, for collections) of a table or collection.
struct NSIndexPath {
  int section = 0;
  int row = 0;

  static NSIndexPath indexPathForRow(int row, int section) { return NSIndexPath{section, row}; }
  static NSIndexPath indexPathForItem(int item, int section) { return NSIndexPath{section, item}; }
  int item() const { return row; }
  auto operator<=>(const NSIndexPath&) const = default;
};

using NSIndexSet = std::set<int>;
