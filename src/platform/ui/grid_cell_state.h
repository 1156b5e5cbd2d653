#pragma once

#include <cstdint>
#include <string>

namespace ui_detail {

template <class Cell>
class CellGrid;

// What a table or collection keeps of each cell it holds, kept in the cell itself: a list of
// thousands of cells looks it up for every cell on every reload.
struct GridCellState {
  const void* grid = nullptr;  // the list holding the cell, if any
  int shown = 0;               // at how many index paths the cell shows
  bool pooled = false;         // waits in the reuse pool
  bool drawnKept = false;      // `drawn` is the cell's line while its render stamp stays `stamp`
  std::uint32_t stamp = 0;
  std::string drawn;
};

// Which cell class a view is, so that a list tells its own cells from other subviews cheaply.
enum class GridCellKind : std::uint8_t { None, TableRow, CollectionItem };

}  // namespace ui_detail
