// The baked magnet's geometry: decode size, cover fit, position and stroke.
#include "bake_geometry.h"

#include <algorithm>
#include <cmath>

namespace runner {
namespace {

// Truncation toward zero that stays defined for any double: zooms and offsets
// come from outside.
int TruncateToInt(double value) {
  constexpr double kLimit = 1 << 30;
  if (!(value == value)) return 0;  // NaN
  return static_cast<int>(std::clamp(value, -kLimit, kLimit));
}

}  // namespace

bool CanvasSizeIsUsable(int canvasWidth, int canvasHeight) {
  return canvasWidth >= 1 && canvasHeight >= 1 && canvasWidth <= kMaxCanvasSide &&
         canvasHeight <= kMaxCanvasSide;
}

Size WantedDecodeSize(int canvasWidth, int canvasHeight) {
  const auto wanted = [](int side) {
    return static_cast<int>(static_cast<double>(std::clamp(side, 0, kMaxCanvasSide)) * 1.5);
  };
  return {wanted(canvasWidth), wanted(canvasHeight)};
}

std::optional<Size> ScaledDecodeSize(int w, int h, int wantW, int wantH) {
  if (wantW < 1 || wantH < 1 || w <= 0 || h <= 0) return std::nullopt;
  if (!(wantW < w || wantH < h)) return std::nullopt;
  const double f = std::max(static_cast<double>(wantW) / w, static_cast<double>(wantH) / h);
  const int nw = static_cast<int>(f * w);
  const int nh = static_cast<int>(f * h);
  if (nw < static_cast<int>(0.75 * w) || nh < static_cast<int>(0.75 * h)) return Size{nw, nh};
  return std::nullopt;
}

double SnapPosition(double position, int canvasSize) {
  return canvasSize % 2 != 0 ? std::round(position * 2) * 0.5 : std::round(position);
}

PhotoPlacement PlacePhotoOnCanvas(int canvasWidth, int canvasHeight, int iw, int ih,
                                  double imageScale, double offsetX, double offsetY, bool rotate) {
  PhotoPlacement placement;
  const double w = canvasWidth;
  const double h = canvasHeight;
  if (rotate) {
    placement.cover = std::max(h / iw, w / ih);
    std::swap(iw, ih);
  } else {
    placement.cover = std::max(w / iw, h / ih);
  }
  const double s = placement.cover * imageScale;
  placement.width = TruncateToInt(iw * s);
  placement.height = TruncateToInt(ih * s);
  // Kept as doubles for the log, within a range whose truncation is defined.
  constexpr double kLimit = 1 << 30;
  const double x = SnapPosition(w * 0.5 - placement.width * 0.5 + offsetX, canvasWidth);
  const double y = SnapPosition(h * 0.5 - placement.height * 0.5 + offsetY, canvasHeight);
  placement.x = x == x ? std::clamp(x, -kLimit, kLimit) : 0.0;
  placement.y = y == y ? std::clamp(y, -kLimit, kLimit) : 0.0;
  return placement;
}

}  // namespace runner
