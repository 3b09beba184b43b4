// One finished page: white canvas, the photos of its cells, the cut grid, and
// the JPEG file.
#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include "effects.h"
#include "geometry.h"
#include "grid_config.h"
#include "rgba_image.h"

namespace sheetsmith {

// What the page workers of one run share. The config and geometry are
// read-only while workers run; the counters change only atomically.
struct RunState {
  const GridConfig& config;
  GridGeometry geometry;
  std::atomic<int> nextPage{0};
  std::atomic<int> photosProcessed{0};
  std::atomic<int> pagesSaved{0};
  std::atomic<bool> abandon{false};  // set when the run cannot complete
  std::mutex logMutex;

  RunState(const GridConfig& c, const GridGeometry& g) : config(c), geometry(g) {}
};

// Cut-grid colour names, matched exactly; anything else is dark grey.
Rgb ColorFromName(const std::string& name);

// Width in pixels of the cut lines for this page.
int CutGridLineWidth(const GridConfig& config);

// Draws the lines between cells over the usable area.
void DrawCutGrid(RgbaImage& canvas, const GridConfig& config, const GridGeometry& geometry);

// Renders page `page` and writes it to outputs[page].
void RenderPage(int page, RunState& state);

}  // namespace sheetsmith
