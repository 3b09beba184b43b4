// One finished page: white canvas, the photos of its cells, the cut grid, and
// the JPEG file.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "effects.h"
#include "geometry.h"
#include "grid_config.h"
#include "rgba_image.h"

namespace sheetsmith {

// Makes a page's white canvas of width x height; nullopt when the memory
// cannot be had.
using CanvasMaker = std::function<std::optional<RgbaImage>(int width, int height)>;

std::optional<RgbaImage> MakeWhiteCanvas(int width, int height);

// What the page workers of one run share. The config and geometry are
// read-only while workers run; the counters change only atomically.
struct RunState {
  const GridConfig& config;
  GridGeometry geometry;
  CanvasMaker makeCanvas;
  std::atomic<int> nextPage{0};
  std::atomic<int> photosProcessed{0};
  std::atomic<int> pagesSaved{0};
  std::atomic<int> pagesFailed{0};  // pages with no canvas or no file
  std::atomic<bool> abandon{false};  // set when the run cannot complete
  std::mutex logMutex;

  RunState(const GridConfig& c, const GridGeometry& g, CanvasMaker maker = &MakeWhiteCanvas)
      : config(c), geometry(g), makeCanvas(std::move(maker)) {}

  // Ends the run: the first failure's text is kept, the workers stop taking
  // work.
  void Fail(const std::string& message);
  std::optional<std::string> failure();

 private:
  std::mutex failureMutex_;
  std::optional<std::string> failure_;
};

// Cut-grid colour names, matched exactly; anything else is dark grey.
Rgb ColorFromName(const std::string& name);

// Width in pixels of the cut lines for this page.
int CutGridLineWidth(const GridConfig& config);

// Draws the lines between cells over the usable area.
void DrawCutGrid(RgbaImage& canvas, const GridConfig& config, const GridGeometry& geometry);

// Renders page `page` and writes it to outputs[page]. A page whose canvas or
// file cannot be made is counted in pagesFailed.
void RenderPage(int page, RunState& state);

}  // namespace sheetsmith
