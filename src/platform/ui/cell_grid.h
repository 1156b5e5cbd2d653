#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/foundation/fatal_error.h"
#include "platform/ui/geometry.h"
#include "platform/ui/render.h"
#include "platform/ui/ui_view.h"

namespace ui_detail {

// What tables and collections share: prototype cells by reuse identifier with a reuse pool, the
// cached section and item counts, the cells shown for every index path, and the selection.
// Every item is shown (there is no scrolling window), so every item has a cell.
template <class Cell>
class CellGrid {
 public:
  using Factory = std::function<std::shared_ptr<Cell>()>;
  struct Source {
    std::function<int()> sectionCount;
    std::function<int(int section)> itemCount;
    std::function<std::shared_ptr<Cell>(const NSIndexPath&)> cell;
    // Called once the counts are known, before any cell is asked for.
    std::function<void()> counted;
  };

  explicit CellGrid(UIView& host) : host_(host) {}

  // `awakes`: the factory's cells have had awakeFromNib already (nib loading does it).
  void registerFactory(const std::string& id, Factory factory, bool awakes = false) {
    factories_[id] = Prototype{std::move(factory), awakes};
  }
  bool hasFactory(const std::string& id) const { return factories_.count(id) > 0; }

  // A pooled cell (after prepareForReuse) or a new one from the prototype (awakeFromNib called
  // once: here, unless the factory awakes its cells); nullptr when neither exists. Every cell with a reuse
  // identifier goes back to the pool when it stops being shown.
  std::shared_ptr<Cell> dequeue(const std::string& id) {
    if (auto it = pool_.find(id); it != pool_.end() && !it->second.empty()) {
      auto cell = it->second.back();
      it->second.pop_back();
      cells_[cell.get()].pooled = false;
      ++reusedCount_;
      cell->prepareForReuse();
      return cell;
    }
    auto it = factories_.find(id);
    if (it == factories_.end()) return nullptr;
    auto cell = it->second.make();
    if (!cell) return nullptr;
    cell->setReuseIdentifier(id);
    ++createdCount_;
    if (!it->second.awakes) cell->awakeFromNib();
    return cell;
  }

  bool isLoaded() const { return loaded_; }
  void invalidate() { loaded_ = false; }
  void ensureLoaded(const Source& source) {
    if (!loaded_) reloadAll(source);
  }

  // Asks again for the counts and every cell; the selection is cleared.
  void reloadAll(const Source& source) {
    loaded_ = true;
    ++reloadCount_;
    unshowAll();
    // Most items show again: their map entries are used again rather than freed and made anew.
    spare_.clear();
    while (!visible_.empty()) spare_.push_back(visible_.extract(visible_.begin()));
    // Last item first: the pool hands out the last cell in first, so an item asked for again gets
    // the cell it showed (a picture on its way keeps going). The cells wait in the host, where
    // most of them show again, unless one holds the first responder (leaving ends its editing).
    const UIView* editing = cellHoldingFirstResponder();
    std::vector<std::shared_ptr<Cell>> parked;
    parked.reserve(spare_.size());
    for (auto it = spare_.rbegin(); it != spare_.rend(); ++it) {
      auto cell = std::move(it->mapped());
      const bool stays = cell.get() != editing && cell->reuseIdentifier();
      hide(cell, !stays);
      if (stays) parked.push_back(std::move(cell));
    }
    selected_.clear();
    recount(source);
    fill(source, {});
    for (const auto& cell : parked) {
      if (!isCell(cell.get()) && cell->superview().get() == &host_) cell->removeFromSuperview();
    }
    spare_.clear();
    keepCellsInItemOrder();
  }

  // Asks again for the counts and for the cells at `paths`; other cells stay.
  void reload(const Source& source, const std::vector<NSIndexPath>& paths) {
    loaded_ = true;
    recount(source);
    fill(source, std::set<NSIndexPath>(paths.begin(), paths.end()));
  }

  void reloadSections(const Source& source, const NSIndexSet& sections) {
    loaded_ = true;
    recount(source);
    std::set<NSIndexPath> paths;
    for (int s : sections) {
      for (int r = 0; r < numberOfItems(s); ++r) paths.insert(NSIndexPath{s, r});
    }
    fill(source, paths);
  }

  // Structural changes: the cells and the selection move with their items, then the counts and
  // the new items are asked for.
  void insertItems(const Source& source, const std::vector<NSIndexPath>& paths) {
    remap([&](NSIndexPath ip) -> std::optional<NSIndexPath> {
      std::vector<int> rows;
      for (const auto& p : paths) {
        if (p.section == ip.section) rows.push_back(p.row);
      }
      ip.row = shiftForInsert(ip.row, rows);
      return ip;
    });
    refill(source);
  }

  void deleteItems(const Source& source, const std::vector<NSIndexPath>& paths) {
    remap([&](NSIndexPath ip) -> std::optional<NSIndexPath> {
      std::vector<int> rows;
      for (const auto& p : paths) {
        if (p.section == ip.section) rows.push_back(p.row);
      }
      auto r = shiftForDelete(ip.row, rows);
      if (!r) return std::nullopt;
      ip.row = *r;
      return ip;
    });
    refill(source);
  }

  void insertSections(const Source& source, const NSIndexSet& sections) {
    std::vector<int> list(sections.begin(), sections.end());
    remap([&](NSIndexPath ip) -> std::optional<NSIndexPath> {
      ip.section = shiftForInsert(ip.section, list);
      return ip;
    });
    refill(source);
  }

  void deleteSections(const Source& source, const NSIndexSet& sections) {
    std::vector<int> list(sections.begin(), sections.end());
    remap([&](NSIndexPath ip) -> std::optional<NSIndexPath> {
      auto s = shiftForDelete(ip.section, list);
      if (!s) return std::nullopt;
      ip.section = *s;
      return ip;
    });
    refill(source);
  }

  int numberOfSections() const { return static_cast<int>(counts_.size()); }
  int numberOfItems(int section) const {
    return section >= 0 && section < numberOfSections() ? counts_[static_cast<std::size_t>(section)] : 0;
  }
  bool isValid(const NSIndexPath& ip) const { return ip.row >= 0 && ip.row < numberOfItems(ip.section); }

  std::shared_ptr<Cell> cellAt(const NSIndexPath& ip) const {
    auto it = visible_.find(ip);
    return it == visible_.end() ? nullptr : it->second;
  }
  std::optional<NSIndexPath> indexPathForCell(const UIView& cell) const {
    for (const auto& [ip, c] : visible_) {
      if (c.get() == &cell) return ip;
    }
    return std::nullopt;
  }
  std::vector<NSIndexPath> visiblePaths() const {
    std::vector<NSIndexPath> out;
    for (const auto& [ip, c] : visible_) out.push_back(ip);
    return out;
  }
  std::vector<std::shared_ptr<Cell>> visibleCells() const {
    std::vector<std::shared_ptr<Cell>> out;
    for (const auto& [ip, c] : visible_) out.push_back(c);
    return out;
  }

  bool isSelected(const NSIndexPath& ip) const { return selected_.count(ip) > 0; }
  const std::set<NSIndexPath>& selected() const { return selected_; }
  void select(const NSIndexPath& ip) {
    if (!isValid(ip)) return;
    selected_.insert(ip);
    if (auto c = cellAt(ip)) c->setSelected(true);
  }
  void deselect(const NSIndexPath& ip) {
    selected_.erase(ip);
    if (auto c = cellAt(ip)) c->setSelected(false);
  }

  // Selection in code: without multiple selection (or with no index path) the others go first.
  void selectInCode(const std::optional<NSIndexPath>& ip, bool multiple) {
    if (!multiple || !ip) {
      for (auto other : std::set<NSIndexPath>(selected_)) deselect(other);
    }
    if (ip) select(*ip);
  }

  // The user's choice of `ip`, reported through the two callbacks: with multiple selection a
  // selected item is deselected; otherwise the other items are deselected first.
  void choose(const NSIndexPath& ip, bool multiple, const std::function<void(const NSIndexPath&)>& didSelect,
              const std::function<void(const NSIndexPath&)>& didDeselect) {
    if (multiple && isSelected(ip)) {
      deselect(ip);
      didDeselect(ip);
      return;
    }
    if (!multiple) {
      for (auto other : std::set<NSIndexPath>(selected_)) {
        if (other == ip) continue;
        deselect(other);
        didDeselect(other);
      }
    }
    select(ip);
    didSelect(ip);
  }

  // The rendering of the item's line: "R." (one section) or "S.R.", the cell on one line, and
  // " (selected)". Empty for an item without a visible cell.
  std::string renderLine(const NSIndexPath& ip) const {
    auto it = visible_.find(ip);
    return it == visible_.end() ? std::string() : lineFor(ip, *it->second);
  }
  // Each item's line that is not empty, in item order; the lines are printable.
  template <class F>
  void forEachLine(F&& f) const {
    for (const auto& [ip, cell] : visible_) {
      if (auto text = lineFor(ip, *cell); !text.empty()) f(ip, std::move(text));
    }
  }
  // f(indexPath, cell) for every item, in item order; f must leave the items as they are.
  template <class F>
  void forEachCell(F&& f) const {
    for (const auto& [ip, cell] : visible_) f(ip, *cell);
  }
  // Whether `view` is the cell of an item.
  bool isCell(const UIView* view) const {
    auto it = cells_.find(view);
    return it != cells_.end() && it->second.shown > 0;
  }

  int reloadCount() const { return reloadCount_; }
  int createdCount() const { return createdCount_; }
  int reusedCount() const { return reusedCount_; }

 private:
  // Final position of an old index when `inserted` (final positions) are added.
  static int shiftForInsert(int index, std::vector<int> inserted) {
    std::sort(inserted.begin(), inserted.end());
    for (int k : inserted) {
      if (k <= index) ++index;
    }
    return index;
  }
  // New position of an old index when `deleted` (old positions) go; nothing if it is one of them.
  static std::optional<int> shiftForDelete(int index, const std::vector<int>& deleted) {
    int before = 0;
    for (int k : deleted) {
      if (k == index) return std::nullopt;
      if (k < index) ++before;
    }
    return index - before;
  }

  std::string lineFor(const NSIndexPath& ip, const Cell& cell) const {
    if (cell.isHidden()) return {};
    std::string scratch;
    const std::string& content = drawnContent(cell, scratch);
    std::string text;
    text.reserve(content.size() + 24);
    if (numberOfSections() > 1) (text += std::to_string(ip.section)) += '.';
    (text += std::to_string(ip.row)) += '.';
    if (!content.empty()) (text += ' ') += content;
    if (!selected_.empty() && isSelected(ip)) text += " (selected)";
    return text;
  }

  // The cell on one line, drawn again only when something it draws may have changed; a cell
  // whose drawing cannot be kept is drawn into `scratch`.
  const std::string& drawnContent(const Cell& cell, std::string& scratch) const {
    auto& drawn = cells_[&cell].drawn;
    if (drawn.kept && drawn.stamp == cell.renderStamp()) return drawn.text;
    scratch = renderOnOneLine(cell);
    drawn.kept = drawsOnlyReportedState(cell);
    if (!drawn.kept) {
      std::string().swap(drawn.text);
      return scratch;
    }
    drawn.text = std::move(scratch);
    drawn.stamp = cell.stampForKeeping();
    return drawn.text;
  }
  static bool drawsOnlyReportedState(const UIView& view) {
    if (!view.drawsOnlyReportedState()) return false;
    return std::all_of(view.subviews().begin(), view.subviews().end(),
                       [](const auto& s) { return drawsOnlyReportedState(*s); });
  }

  template <class F>
  void remap(F&& to) {
    std::map<NSIndexPath, std::shared_ptr<Cell>> moved;
    std::vector<std::shared_ptr<Cell>> gone;
    for (auto& [ip, cell] : visible_) {
      if (auto n = to(ip)) {
        moved[*n] = cell;
      } else {
        gone.push_back(cell);
      }
    }
    visible_ = std::move(moved);
    unshowAll();
    for (const auto& [ip, cell] : visible_) ++cells_[cell.get()].shown;
    for (const auto& cell : gone) hide(cell);
    std::set<NSIndexPath> sel;
    for (const auto& ip : selected_) {
      if (auto n = to(ip)) sel.insert(*n);
    }
    selected_ = std::move(sel);
  }

  void refill(const Source& source) {
    loaded_ = true;
    recount(source);
    fill(source, {});
  }

  void recount(const Source& source) {
    int sections = source.sectionCount ? std::max(0, source.sectionCount()) : 0;
    counts_.assign(static_cast<std::size_t>(sections), 0);
    for (int s = 0; s < sections; ++s) {
      counts_[static_cast<std::size_t>(s)] = source.itemCount ? std::max(0, source.itemCount(s)) : 0;
    }
    if (source.counted) source.counted();
  }

  // Drops what no longer exists, then asks for every item without a cell and for `force`.
  void fill(const Source& source, const std::set<NSIndexPath>& force) {
    for (auto it = visible_.begin(); it != visible_.end();) {
      if (isValid(it->first)) {
        ++it;
      } else {
        auto cell = std::move(it->second);
        it = visible_.erase(it);
        unshown(*cell);
        hide(cell);
      }
    }
    for (auto it = selected_.begin(); it != selected_.end();) {
      it = isValid(*it) ? std::next(it) : selected_.erase(it);
    }
    for (int s = 0; s < numberOfSections(); ++s) {
      for (int r = 0; r < numberOfItems(s); ++r) {
        NSIndexPath ip{s, r};
        auto current = visible_.find(ip);
        if (current != visible_.end() && !force.count(ip)) continue;
        if (current != visible_.end()) {
          auto old = std::move(current->second);
          visible_.erase(current);
          unshown(*old);
          hide(old);
        }
        auto cell = source.cell ? source.cell(ip) : nullptr;
        if (!cell) fatalError("the data source returned no cell");
        show(ip, cell);
      }
    }
  }

  void show(const NSIndexPath& ip, const std::shared_ptr<Cell>& cell) {
    if (spare_.empty()) {
      visible_[ip] = cell;
    } else {
      auto entry = std::move(spare_.back());
      spare_.pop_back();
      entry.key() = ip;
      entry.mapped() = cell;
      if (auto placed = visible_.insert(std::move(entry)); !placed.inserted) placed.position->second = cell;
    }
    ++cells_[cell.get()].shown;
    if (cell->superview().get() != &host_) host_.addSubview(cell);
    cell->setSelected(isSelected(ip));
  }

  void hide(const std::shared_ptr<Cell>& cell, bool detach = true) {
    if (detach && cell->superview().get() == &host_) cell->removeFromSuperview();
    // A cell shown at another index path too stays out of the pool.
    auto& state = cells_[cell.get()];
    if (state.shown > 0) return;
    const auto& id = cell->reuseIdentifier();
    if (!id) {
      cells_.erase(cell.get());  // the grid lets go of it
    } else if (!state.pooled) {
      state.pooled = true;
      pool_[*id].push_back(cell);
    }
  }

  // The cell among the host's subviews whose subtree holds the first responder, if any.
  const UIView* cellHoldingFirstResponder() const {
    auto responder = std::dynamic_pointer_cast<UIView>(host_.currentFirstResponder());
    const UIView* view = responder.get();
    while (view) {
      auto super = view->superview();
      if (super.get() == &host_) return view;
      view = super.get();
    }
    return nullptr;
  }

  // The host's subviews hold the cells in item order, as when each reload added them anew: views
  // are looked up by name in that order.
  void keepCellsInItemOrder() {
    auto next = visible_.begin();
    bool ordered = true;
    for (const auto& view : host_.subviews()) {
      if (!isCell(view.get())) continue;
      if (next == visible_.end() || next->second != view) {
        ordered = false;
        break;
      }
      ++next;
    }
    if (ordered && next == visible_.end()) return;
    for (const auto& [ip, cell] : visible_) host_.bringSubviewToFront(cell);
  }

  // `cell` left one index path of visible_.
  void unshown(const Cell& cell) {
    auto it = cells_.find(&cell);
    if (it != cells_.end() && it->second.shown > 0) --it->second.shown;
  }

  // Before the items are counted again: the cells keep their entries (most show again), shown
  // nowhere for now.
  void unshowAll() {
    for (auto& [cell, state] : cells_) state.shown = 0;
  }

  UIView& host_;
  struct Prototype {
    Factory make;
    bool awakes = false;
  };
  std::map<std::string, Prototype> factories_;
  std::map<std::string, std::vector<std::shared_ptr<Cell>>> pool_;
  std::vector<int> counts_;
  std::map<NSIndexPath, std::shared_ptr<Cell>> visible_;
  std::vector<typename std::map<NSIndexPath, std::shared_ptr<Cell>>::node_type> spare_;
  // What the grid knows of each cell it holds: at how many index paths of visible_ it shows,
  // whether it waits in the pool, and what it drew (a reload hands most items the cells they had,
  // configured the same). Hiding a cell looks at no list; a reload makes no entry anew.
  struct Drawn {
    std::string text;
    std::uint32_t stamp = 0;
    bool kept = false;
  };
  struct CellState {
    int shown = 0;
    bool pooled = false;
    Drawn drawn;
  };
  mutable std::unordered_map<const UIView*, CellState> cells_;
  std::set<NSIndexPath> selected_;
  bool loaded_ = false;
  int reloadCount_ = 0;
  int createdCount_ = 0;
  int reusedCount_ = 0;
};

}  // namespace ui_detail
