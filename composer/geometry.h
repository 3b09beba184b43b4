// Page geometry of one run: the usable area inside the margins, the cells of
// the rows x cols grid, and the magnet centred in each cell.
#pragma once

#include <cstdint>
#include <string>

#include "job_file/grid_config.h"

namespace sheetsmith {

struct GridGeometry {
  int usableWidth = 0;
  int usableHeight = 0;
  int cellWidth = 0;
  int cellHeight = 0;
  int magnetWidth = 0;
  int magnetHeight = 0;
  bool landscape = false;
  bool portrait = false;
  std::int64_t cellsPerPage = 0;
};

struct Point {
  int x = 0;
  int y = 0;
};

// The geometry of `config`, or false with `problem` set when the settings make
// no grid (no rows or columns, no usable area, cells or magnets of no size).
bool ComputeGeometry(const GridConfig& config, GridGeometry& geometry, std::string& problem);

// Top-left corner of the magnet in cell (row, col) of any page.
Point MagnetOrigin(const GridConfig& config, const GridGeometry& geometry, int row, int col);

}  // namespace sheetsmith
