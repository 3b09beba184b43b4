// One photo into its magnet: loaded, turned upright and to the magnet's
// orientation, scaled to cover it, zoomed and panned, adjusted, pasted onto
// the page, and covered by its frame.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "effects.h"
#include "geometry.h"
#include "imaging/color/color_plan.h"
#include "imaging/pixels/rgba_image.h"
#include "imaging/reading/photo_reader.h"
#include "job_file/grid_config.h"

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

// Paints the w x h rectangle at (x, y) opaque `color`, as far as it lies on
// the canvas.
void FillRect(RgbaImage& canvas, long long x, long long y, long long w, long long h, Rgb color);
inline void WhitenRect(RgbaImage& canvas, long long x, long long y, long long w, long long h) {
  FillRect(canvas, x, y, w, h, {255, 255, 255});
}

// Lays the frame over the canvas at (x, y) by its alpha.
void BlendFrame(RgbaImage& canvas, const RgbaImage& frame, int x, int y);

// What a run does with the colours of its photos and frames: the target,
// and the conversions to it, each made once for every profile the files
// carry and shared by the workers.
struct RunColors {
  explicit RunColors(ColorTarget chosen)
      : target(std::move(chosen)), conversions(target.profile, PixelLayout::kRgba) {}
  ColorTarget target;
  ConversionCache conversions;
};

// ChosenColorInTarget for the run's target; as it is without run colours.
Rgb TargetColor(Rgb srgb, RunColors* colors);

// The conversion a photo's or frame's colours take to the run's target
// (null: they stay as they are), from the profile the file carries, or from
// sRGB when it carries none, or one that cannot be used (damaged, of other
// colours than its pixels, or one Little CMS cannot join to the target:
// one log line). A photo without a usable profile and an sRGB target stays
// exactly as it is. `tagged`: converted from the file's own profile. A CMYK
// photo so converted keeps its inks for the conversion.
std::shared_ptr<const ColorConversion> ConversionFor(DecodedPhoto& photo, const std::string& path,
                                                     RunColors* colors, bool& tagged);

// Places photo `index` into cell (row, col). False when the photo could not
// be loaded (the cell stays white, and the photo's line is written:
// job_file/unreadable_line.h).
bool PlacePhoto(RgbaImage& canvas, std::size_t index, int row, int col, const GridConfig& config,
                const GridGeometry& geometry, RunColors* colors = nullptr);

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
  bool tagged = false;  // photo or frame converted from a profile it carries
  // The magnet the photo fills, and its cell's place among its page's cells.
  Point magnet;
  int magnetWidth = 0;
  int magnetHeight = 0;
  int slot = 0;
};
// Nullopt when the photo could not be loaded. Colours are converted to the
// run's target (when `colors` is given) at the magnet's size: the photo's
// after it is scaled and cut to its magnet and before its effects, so that
// the effects work on the colours the user saw; the frame's once fitted.
std::optional<PreparedPhoto> PreparePhoto(std::size_t index, int row, int col,
                                          const GridConfig& config, const GridGeometry& geometry,
                                          RunColors* colors = nullptr);
// Lays the photo and its frame. With `whitenMagnet`, what the photo leaves of
// its magnet (it may be cut smaller, or fall off the page) is whitened first,
// so the canvas needs to be white only around the magnets.
void PastePrepared(RgbaImage& canvas, const PreparedPhoto& prepared, bool whitenMagnet = true);

}  // namespace sheetsmith
