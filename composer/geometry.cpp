// The run's geometry computed from the job's settings, and the checks that
// refuse a page it cannot hold.
#include "geometry.h"

#include <algorithm>
#include <limits>

namespace sheetsmith {

bool ComputeGeometry(const GridConfig& config, GridGeometry& geometry, std::string& problem) {
  if (config.pageWidth <= 0 || config.pageHeight <= 0) {
    problem = "page size " + std::to_string(config.pageWidth) + "x" +
              std::to_string(config.pageHeight) + " is not a page";
    return false;
  }
  if (config.rows <= 0 || config.cols <= 0) {
    problem =
        "grid " + std::to_string(config.rows) + "x" + std::to_string(config.cols) + " has no cells";
    return false;
  }
  // Margins may be negative; 64-bit sums keep the subtraction from overflowing.
  const std::int64_t usableWidth =
      std::int64_t{config.pageWidth} - config.marginLeft - config.marginRight;
  const std::int64_t usableHeight =
      std::int64_t{config.pageHeight} - config.marginTop - config.marginBottom;
  constexpr std::int64_t kIntMax = std::numeric_limits<int>::max();
  if (usableWidth <= 0 || usableHeight <= 0 || usableWidth > kIntMax || usableHeight > kIntMax) {
    problem = "margins leave a usable area of " + std::to_string(usableWidth) + "x" +
              std::to_string(usableHeight) + " pixels";
    return false;
  }
  geometry.usableWidth = static_cast<int>(usableWidth);
  geometry.usableHeight = static_cast<int>(usableHeight);
  geometry.cellWidth = geometry.usableWidth / config.cols;
  geometry.cellHeight = geometry.usableHeight / config.rows;
  if (geometry.cellWidth <= 0 || geometry.cellHeight <= 0) {
    problem = "cells of " + std::to_string(geometry.cellWidth) + "x" +
              std::to_string(geometry.cellHeight) + " pixels are too small";
    return false;
  }

  geometry.magnetWidth = geometry.cellWidth;
  geometry.magnetHeight = geometry.cellHeight;
  const double ratio = config.magnetAspectRatio;
  if (ratio > 0) {
    const double cellRatio = static_cast<double>(geometry.cellWidth) / geometry.cellHeight;
    if (cellRatio > ratio) {
      geometry.magnetWidth = static_cast<int>(ratio * geometry.cellHeight);
    } else {
      geometry.magnetHeight = static_cast<int>(geometry.cellWidth / ratio);
    }
  }
  if (geometry.magnetWidth <= 0 || geometry.magnetHeight <= 0) {
    problem = "magnets of " + std::to_string(geometry.magnetWidth) + "x" +
              std::to_string(geometry.magnetHeight) + " pixels are too small";
    return false;
  }
  geometry.landscape = geometry.magnetWidth > geometry.magnetHeight;
  geometry.portrait = geometry.magnetWidth < geometry.magnetHeight;
  geometry.cellsPerPage = std::int64_t{config.rows} * config.cols;
  return true;
}

Point MagnetOrigin(const GridConfig& config, const GridGeometry& geometry, int row, int col) {
  const std::int64_t x = std::int64_t{config.marginLeft} + std::int64_t{col} * geometry.cellWidth +
                         (geometry.cellWidth - geometry.magnetWidth) / 2;
  const std::int64_t y = std::int64_t{config.marginTop} + std::int64_t{row} * geometry.cellHeight +
                         (geometry.cellHeight - geometry.magnetHeight) / 2;
  // Within a valid geometry both stay inside the int range; clamp anyway so a
  // caller can never be handed a wrapped coordinate.
  auto clamp = [](std::int64_t v) {
    return static_cast<int>(
        std::max<std::int64_t>(std::numeric_limits<int>::min(),
                               std::min<std::int64_t>(v, std::numeric_limits<int>::max())));
  };
  return {clamp(x), clamp(y)};
}

}  // namespace sheetsmith
