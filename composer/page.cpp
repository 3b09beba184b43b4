#include "page.h"

#include <algorithm>

#include "image_io.h"
#include "log.h"
#include "placement.h"
#include "stage_times.h"

namespace sheetsmith {

std::optional<RgbaImage> MakeWhiteCanvas(int width, int height) {
  return MakeImage(width, height, 255);
}

void RunState::Fail(const std::string& message) {
  {
    std::lock_guard<std::mutex> guard(failureMutex_);
    if (!failure_) failure_ = message;
  }
  abandon.store(true);
}

std::optional<std::string> RunState::failure() {
  std::lock_guard<std::mutex> guard(failureMutex_);
  return failure_;
}

Rgb ColorFromName(const std::string& name) {
  if (name == "black") return {0, 0, 0};
  if (name == "white") return {255, 255, 255};
  if (name == "gray" || name == "grey") return {128, 128, 128};
  if (name == "lightGray" || name == "lightGrey") return {192, 192, 192};
  return {64, 64, 64};
}

int CutGridLineWidth(const GridConfig& config) {
  const double pixelsPerMm = config.pageHeight <= 2400 ? 300.0 / 25.4 : 450.0 / 25.4;
  const double exact = pixelsPerMm * config.cutGridWidthMm;
  // A line wider than the page paints the same as one as wide as the page;
  // the bound keeps the conversion to int defined.
  const double bound = static_cast<double>(std::max(config.pageWidth, config.pageHeight)) * 2 + 2;
  int width = exact >= bound ? static_cast<int>(bound) : exact > 0 ? static_cast<int>(exact) : 0;
  if (width <= 1) width = 1;
  const Rgb color = ColorFromName(config.cutGridColor);
  if (color.r > 149 && color.g > 149 && color.b > 149 && width < 2) width = 2;
  return width;
}

namespace {

void PaintRect(RgbaImage& canvas, long long x0, long long y0, long long x1, long long y1,
               Rgb color) {
  // Half-open [x0, x1) x [y0, y1), clipped to the canvas.
  x0 = std::max(x0, 0LL);
  y0 = std::max(y0, 0LL);
  x1 = std::min<long long>(x1, canvas.width);
  y1 = std::min<long long>(y1, canvas.height);
  for (long long y = y0; y < y1; ++y) {
    for (long long x = x0; x < x1; ++x) {
      std::uint8_t* p = canvas.At(static_cast<int>(x), static_cast<int>(y));
      p[0] = color.r;
      p[1] = color.g;
      p[2] = color.b;
      p[3] = 255;
    }
  }
}

}  // namespace

void DrawCutGrid(RgbaImage& canvas, const GridConfig& config, const GridGeometry& geometry) {
  const int width = CutGridLineWidth(config);
  const int half = width / 2;
  const Rgb color = ColorFromName(config.cutGridColor);
  const long long top = config.marginTop;
  const long long left = config.marginLeft;
  for (long long j = 1; j < config.cols; ++j) {
    const long long x = left + j * geometry.cellWidth - half;
    if (x >= canvas.width) break;
    PaintRect(canvas, x, top, x + width, top + geometry.usableHeight, color);
  }
  for (long long j = 1; j < config.rows; ++j) {
    const long long y = top + j * geometry.cellHeight - half;
    if (y >= canvas.height) break;
    PaintRect(canvas, left, y, left + geometry.usableWidth, y + width, color);
  }
}

void RenderPage(int page, RunState& state) {
  const GridConfig& config = state.config;
  std::optional<RgbaImage> canvas = state.makeCanvas(config.pageWidth, config.pageHeight);
  if (!canvas) {
    state.pagesFailed.fetch_add(1);
    return;
  }

  const std::size_t imageCount = config.images.size();
  const std::int64_t first = static_cast<std::int64_t>(page) * state.geometry.cellsPerPage;
  bool done = false;
  for (int r = 0; r < config.rows && !done; ++r) {
    for (int c = 0; c < config.cols; ++c) {
      const std::int64_t i = first + std::int64_t{r} * config.cols + c;
      if (i >= static_cast<std::int64_t>(imageCount)) {
        done = true;
        break;
      }
      const bool loaded =
          PlacePhoto(*canvas, static_cast<std::size_t>(i), r, c, config, state.geometry);
      const int k = state.photosProcessed.fetch_add(1) + 1;
      if (loaded && (k % 10 == 0 || static_cast<std::size_t>(k) == imageCount)) {
        LogLineLocked(state.logMutex,
                      "Sheetsmith: [" + std::to_string(k) + "/" + std::to_string(imageCount) + "]");
      }
    }
  }

  if (config.showCutGrid) DrawCutGrid(*canvas, config, state.geometry);

  bool saved = false;
  {
    StageTimer timer(GlobalStageTimes().encodeNs);
    saved = SaveJpeg(*canvas, config.outputs[static_cast<std::size_t>(page)], config.jpegQuality);
  }
  if (saved) {
    const int k = state.pagesSaved.fetch_add(1) + 1;
    LogLineLocked(state.logMutex, "Sheetsmith: Saved page " + std::to_string(k) + "/" +
                                      std::to_string(config.outputs.size()));
  } else {
    state.pagesFailed.fetch_add(1);
  }
}

}  // namespace sheetsmith
