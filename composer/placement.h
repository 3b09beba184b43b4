// One photo into its magnet: loaded, turned upright and to the magnet's
// orientation, scaled to cover it, zoomed and panned, adjusted, pasted onto
// the page, and covered by its frame.
#pragma once

#include <optional>
#include <string>

#include "geometry.h"
#include "grid_config.h"
#include "rgba_image.h"

namespace sheetsmith {

void Rotate90Clockwise(RgbaImage& image);
void Rotate90CounterClockwise(RgbaImage& image);
void Rotate180(RgbaImage& image);

// Turns a decoded image upright for its EXIF orientation (3, 6 and 8; the
// mirrored ones are used as they are).
void ApplyOrientation(RgbaImage& image, int orientation);

// The diagnostic line that ApplyTransform writes, for a photo of w x h.
std::string TransformDebugLine(int w, int h, const GridImageEffects& effects, int magnetWidth,
                               int magnetHeight, bool wasRotated);

// The user's zoom and pan: replaces the photo by a magnetWidth x magnetHeight
// cut sampled around the panned centre; pixels outside the photo stay white.
void ApplyTransform(RgbaImage& image, const GridImageEffects& effects, int magnetWidth,
                    int magnetHeight, bool wasRotated);

// Copies every byte of the photo onto the canvas with its top-left at (x, y);
// rows below the canvas are dropped, and nothing is copied when the photo
// would pass the canvas's right edge.
void PastePhoto(RgbaImage& canvas, const RgbaImage& photo, int x, int y);
// The same for the width x height part of `photo` at (fromX, fromY); nothing
// when that part does not lie within the photo.
void PasteRegion(RgbaImage& canvas, const RgbaImage& photo, int fromX, int fromY, int width,
                 int height, int x, int y);

// Lays the frame over the canvas at (x, y) by its alpha.
void BlendFrame(RgbaImage& canvas, const RgbaImage& frame, int x, int y);

// Places photo `index` into cell (row, col). False when the photo could not
// be loaded (the cell stays white).
bool PlacePhoto(RgbaImage& canvas, std::size_t index, int row, int col, const GridConfig& config,
                const GridGeometry& geometry);

// The same in two steps, so that a photo can be made ready before its page's
// canvas is there: everything read and computed, and then laid on a canvas.
struct PreparedPhoto {
  RgbaImage photo;
  int fromX = 0;  // the part of `photo` pasted
  int fromY = 0;
  int width = 0;
  int height = 0;
  long long x = 0;  // where that part goes on the page (clamped to the canvas)
  long long y = 0;
  std::optional<RgbaImage> frame;  // fitted to the magnet, laid at (frameX, frameY)
  int frameX = 0;
  int frameY = 0;
};
// Nullopt when the photo could not be loaded.
std::optional<PreparedPhoto> PreparePhoto(std::size_t index, int row, int col,
                                          const GridConfig& config, const GridGeometry& geometry);
void PastePrepared(RgbaImage& canvas, const PreparedPhoto& prepared);

}  // namespace sheetsmith
