#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
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
  ~CellGrid() {
    // Cells may outlive the list: they stop reading as its own.
    forEachHeld([](Cell& cell) { cell.gridState_ = GridCellState{}; });
  }
  CellGrid(const CellGrid&) = delete;
  CellGrid& operator=(const CellGrid&) = delete;

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
      auto cell = std::move(it->second.back());
      it->second.pop_back();
      cell->gridState_.pooled = false;
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
    auto shown = takeShown();
    // Last item first: the pool hands out the last cell in first, so an item asked for again gets
    // the cell it showed (a picture on its way keeps going). The cells wait in the host, where
    // most of them show again, unless one holds the first responder (leaving ends its editing).
    const UIView* editing = cellHoldingFirstResponder();
    std::vector<std::shared_ptr<Cell>> parked;
    parked.reserve(shown.size());
    for (auto it = shown.rbegin(); it != shown.rend(); ++it) {
      const bool stays = it->get() != editing && (*it)->reuseIdentifier();
      hide(*it, !stays);
      if (stays) parked.push_back(std::move(*it));
    }
    shown.clear();
    selected_.clear();
    recount(source);
    fill(source, {});
    for (const auto& cell : parked) {
      if (!isCell(cell.get()) && cell->isSubviewOf(host_)) cell->removeFromSuperview();
    }
    keepCellsInItemOrder();
  }

  // Asks again for the counts and for the cells at `paths`; other cells stay.
  void reload(const Source& source, const std::vector<NSIndexPath>& paths) {
    loaded_ = true;
    recount(source);
    Forced force(counts_.size());
    for (const auto& ip : paths) mark(force, ip);
    fill(source, force);
  }

  void reloadSections(const Source& source, const NSIndexSet& sections) {
    loaded_ = true;
    recount(source);
    Forced force(counts_.size());
    for (int s : sections) {
      if (s >= 0 && s < numberOfSections())
        force[static_cast<std::size_t>(s)].assign(counts_[static_cast<std::size_t>(s)], true);
    }
    fill(source, force);
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
    const auto* slot = slotAt(ip);
    return slot ? *slot : nullptr;
  }
  std::optional<NSIndexPath> indexPathForCell(const UIView& cell) const {
    std::optional<NSIndexPath> found;
    forEachShown([&](const NSIndexPath& ip, const std::shared_ptr<Cell>& c) {
      if (!found && c.get() == &cell) found = ip;
    });
    return found;
  }
  std::vector<NSIndexPath> visiblePaths() const {
    std::vector<NSIndexPath> out;
    forEachShown([&](const NSIndexPath& ip, const std::shared_ptr<Cell>&) { out.push_back(ip); });
    return out;
  }
  std::vector<std::shared_ptr<Cell>> visibleCells() const {
    std::vector<std::shared_ptr<Cell>> out;
    forEachShown([&](const NSIndexPath&, const std::shared_ptr<Cell>& cell) { out.push_back(cell); });
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
    const auto* slot = slotAt(ip);
    return slot && *slot ? lineFor(ip, **slot) : std::string();
  }
  // Each item's line that is not empty, in item order; the lines are printable. f gets the line
  // in a buffer that the next line reuses.
  template <class F>
  void forEachLine(F&& f) const {
    std::string text;
    forEachShown([&](const NSIndexPath& ip, const std::shared_ptr<Cell>& cell) {
      text.clear();
      appendLine(text, ip, *cell);
      if (!text.empty()) f(ip, std::as_const(text));
    });
  }
  // f(indexPath, cell) for every item, in item order; f must leave the items as they are.
  template <class F>
  void forEachCell(F&& f) const {
    forEachShown([&](const NSIndexPath& ip, const std::shared_ptr<Cell>& cell) { f(ip, *cell); });
  }
  // Whether `view` is the cell of an item.
  bool isCell(const UIView* view) const {
    if (!view || view->gridCellKind() != Cell::kGridCellKind) return false;
    const auto& state = static_cast<const Cell*>(view)->gridState_;
    return state.grid == this && state.shown > 0;
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
    std::string text;
    appendLine(text, ip, cell);
    return text;
  }
  void appendLine(std::string& text, const NSIndexPath& ip, const Cell& cell) const {
    if (cell.isHidden()) return;
    std::string scratch;
    const std::string& content = drawnContent(cell, scratch);
    if (numberOfSections() > 1) (text += std::to_string(ip.section)) += '.';
    (text += std::to_string(ip.row)) += '.';
    if (!content.empty()) (text += ' ') += content;
    if (!selected_.empty() && isSelected(ip)) text += " (selected)";
  }

  // The cell on one line, drawn again only when something it draws may have changed; a cell
  // whose drawing cannot be kept is drawn into `scratch`.
  const std::string& drawnContent(const Cell& cell, std::string& scratch) const {
    auto& state = cell.gridState_;
    if (state.drawnKept && state.stamp == cell.renderStamp()) return state.drawn;
    scratch = renderOnOneLine(cell);
    state.drawnKept = drawsOnlyReportedState(cell);
    if (!state.drawnKept) {
      std::string().swap(state.drawn);
      return scratch;
    }
    state.drawn = std::move(scratch);
    state.drawn.shrink_to_fit();  // kept for every row of a long list
    state.stamp = cell.stampForKeeping();
    return state.drawn;
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
    forEachShown([&](const NSIndexPath& ip, const std::shared_ptr<Cell>& cell) {
      if (auto n = to(ip)) {
        moved[*n] = cell;
      } else {
        gone.push_back(cell);
      }
    });
    takeShown();
    for (auto& [ip, cell] : moved) place(ip, std::move(cell));
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

  // The items asked for again, by section and row: a flag each, as a reload of every item of a long
  // list would otherwise build and search a tree of all of them.
  using Forced = std::vector<std::vector<bool>>;
  void mark(Forced& force, const NSIndexPath& ip) const {
    if (!isValid(ip)) return;
    auto& rows = force[static_cast<std::size_t>(ip.section)];
    if (rows.empty()) rows.resize(static_cast<std::size_t>(counts_[static_cast<std::size_t>(ip.section)]));
    rows[static_cast<std::size_t>(ip.row)] = true;
  }
  static bool isForced(const Forced& force, std::size_t section, std::size_t row) {
    return section < force.size() && row < force[section].size() && force[section][row];
  }

  // Drops what no longer exists, then asks for every item without a cell and for `force`.
  void fill(const Source& source, const Forced& force) {
    const auto sections = static_cast<std::size_t>(numberOfSections());
    for (std::size_t s = 0; s < items_.size(); ++s) {
      auto& section = items_[s];
      const auto keep = s < sections ? std::min(section.size(), static_cast<std::size_t>(counts_[s])) : 0;
      for (std::size_t r = keep; r < section.size(); ++r) {
        if (auto cell = std::move(section[r])) {
          unshown(*cell);
          hide(cell);
        }
      }
      section.resize(keep);
    }
    items_.resize(sections);
    for (auto it = selected_.begin(); it != selected_.end();) {
      it = isValid(*it) ? std::next(it) : selected_.erase(it);
    }
    // A cell asked for again waits in the host, as in reloadAll: the pool mostly hands it straight
    // back to the same item, and a reload of every item of a long list then moves no view.
    const UIView* editing = force.empty() ? nullptr : cellHoldingFirstResponder();
    std::vector<std::shared_ptr<Cell>> parked;
    for (std::size_t s = 0; s < sections; ++s) {
      const auto count = static_cast<std::size_t>(counts_[s]);
      items_[s].reserve(count);
      for (std::size_t r = 0; r < count; ++r) {
        const NSIndexPath ip{static_cast<int>(s), static_cast<int>(r)};
        auto* slot = r < items_[s].size() ? &items_[s][r] : nullptr;
        if (slot && *slot && !isForced(force, s, r)) continue;
        if (slot && *slot) {
          auto old = std::move(*slot);
          unshown(*old);
          const bool stays = old.get() != editing && old->reuseIdentifier();
          hide(old, !stays);
          if (stays) parked.push_back(std::move(old));
        }
        auto cell = source.cell ? source.cell(ip) : nullptr;
        if (!cell) fatalError("the data source returned no cell");
        show(ip, cell);
      }
    }
    for (const auto& cell : parked) {
      if (!isCell(cell.get()) && cell->isSubviewOf(host_)) cell->removeFromSuperview();
    }
  }

  // The item's slot, null for an index path beyond the items held.
  const std::shared_ptr<Cell>* slotAt(const NSIndexPath& ip) const {
    if (ip.section < 0 || ip.row < 0 || static_cast<std::size_t>(ip.section) >= items_.size()) return nullptr;
    const auto& section = items_[static_cast<std::size_t>(ip.section)];
    return static_cast<std::size_t>(ip.row) < section.size() ? &section[static_cast<std::size_t>(ip.row)] : nullptr;
  }

  void place(const NSIndexPath& ip, std::shared_ptr<Cell> cell) {
    auto& state = cell->gridState_;
    state.grid = this;
    ++state.shown;
    if (items_.size() <= static_cast<std::size_t>(ip.section)) items_.resize(static_cast<std::size_t>(ip.section) + 1);
    auto& section = items_[static_cast<std::size_t>(ip.section)];
    if (section.size() <= static_cast<std::size_t>(ip.row)) section.resize(static_cast<std::size_t>(ip.row) + 1);
    section[static_cast<std::size_t>(ip.row)] = std::move(cell);
  }

  void show(const NSIndexPath& ip, const std::shared_ptr<Cell>& cell) {
    place(ip, cell);
    if (!cell->isSubviewOf(host_)) host_.addSubview(cell);
    cell->setSelected(isSelected(ip));
  }

  void hide(const std::shared_ptr<Cell>& cell, bool detach = true) {
    if (detach && cell->isSubviewOf(host_)) cell->removeFromSuperview();
    // A cell shown at another index path too stays out of the pool.
    auto& state = cell->gridState_;
    if (state.shown > 0) return;
    const auto& id = cell->reuseIdentifier();
    if (!id) {
      state = GridCellState{};  // the grid lets go of it
    } else if (!state.pooled) {
      state.pooled = true;
      pool_[*id].push_back(cell);
    }
  }

  // f(indexPath, cell) for every item that has a cell, in item order.
  template <class F>
  void forEachShown(F&& f) const {
    for (std::size_t s = 0; s < items_.size(); ++s) {
      const auto& section = items_[s];
      for (std::size_t r = 0; r < section.size(); ++r) {
        if (section[r]) f(NSIndexPath{static_cast<int>(s), static_cast<int>(r)}, section[r]);
      }
    }
  }
  // f(cell) for every cell held: shown or pooled.
  template <class F>
  void forEachHeld(F&& f) {
    for (auto& section : items_) {
      for (auto& cell : section) {
        if (cell) f(*cell);
      }
    }
    for (auto& [id, cells] : pool_) {
      for (auto& cell : cells) f(*cell);
    }
  }

  // Every shown cell in item order, taken out of the items: each is then shown nowhere.
  std::vector<std::shared_ptr<Cell>> takeShown() {
    std::vector<std::shared_ptr<Cell>> shown;
    for (auto& section : items_) {
      for (auto& cell : section) {
        if (!cell) continue;
        cell->gridState_.shown = 0;
        shown.push_back(std::move(cell));
      }
      section.clear();
    }
    return shown;
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
    std::vector<const std::shared_ptr<Cell>*> order;
    forEachShown([&](const NSIndexPath&, const std::shared_ptr<Cell>& cell) { order.push_back(&cell); });
    std::size_t next = 0;
    bool ordered = true;
    for (const auto& view : host_.subviews()) {
      if (!isCell(view.get())) continue;
      if (next == order.size() || order[next]->get() != view.get()) {
        ordered = false;
        break;
      }
      ++next;
    }
    if (ordered && next == order.size()) return;
    for (const auto* cell : order) host_.bringSubviewToFront(*cell);
  }

  // `cell` left one index path of the items.
  static void unshown(const Cell& cell) {
    if (cell.gridState_.shown > 0) --cell.gridState_.shown;
  }

  UIView& host_;
  struct Prototype {
    Factory make;
    bool awakes = false;
  };
  std::map<std::string, Prototype> factories_;
  std::map<std::string, std::vector<std::shared_ptr<Cell>>> pool_;
  std::vector<int> counts_;
  // The cell of each item by section and row; null for an item not asked for yet.
  std::vector<std::vector<std::shared_ptr<Cell>>> items_;
  std::set<NSIndexPath> selected_;
  bool loaded_ = false;
  int reloadCount_ = 0;
  int createdCount_ = 0;
  int reusedCount_ = 0;
};

}  // namespace ui_detail
