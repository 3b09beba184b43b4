// The host renderer's geometry: scaled decode size, cover fit, position and
// the inner stroke's rectangle. Pure functions.
#pragma once

#include <optional>

namespace runner {

struct Size {
  int width = 0;
  int height = 0;
  bool operator==(const Size&) const = default;
};

// The largest canvas side a bake accepts: far above any printed magnet, and
// small enough that the wanted decode size and the canvas's bytes fit.
inline constexpr int kMaxCanvasSide = 32768;

// Whether a canvas of W x H can be baked at all; others fail before any
// decoding.
bool CanvasSizeIsUsable(int canvasWidth, int canvasHeight);

// trunc(W x 1.5) x trunc(H x 1.5), the size the photo is wanted at, for a
// usable canvas.
Size WantedDecodeSize(int canvasWidth, int canvasHeight);

// The size to decode a w x h photo at when about wantW x wantH is needed, or
// nullopt for full size: a reduction is made only when it saves more than a
// quarter of a side.
std::optional<Size> ScaledDecodeSize(int w, int h, int wantW, int wantH);

struct PhotoPlacement {
  double cover = 0;  // s0, the cover factor
  int width = 0;     // sw, after the user's zoom
  int height = 0;    // sh
  double x = 0;      // snapped position
  double y = 0;
  bool operator==(const PhotoPlacement&) const = default;
};

// A photo of iw x ih (before any turn) on a W x H canvas. With `rotate` the
// photo is turned a quarter first, and the placement is of the turned photo.
PhotoPlacement PlacePhotoOnCanvas(int canvasWidth, int canvasHeight, int iw, int ih,
                                  double imageScale, double offsetX, double offsetY, bool rotate);

// Half-pixel snap for odd canvas sizes, whole-pixel rounding for even ones.
double SnapPosition(double position, int canvasSize);

}  // namespace runner
