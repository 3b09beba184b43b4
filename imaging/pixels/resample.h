// The resampler: separable cubic filtering of 8-bit RGBA.
//
// It computes what stb_image_resize's generic entry computes with the
// settings the composer always used (default filters, clamped edges, linear
// values, alpha not premultiplied in the input) up to rounding: per axis a
// Mitchell filter (B = C = 1/3) when shrinking and a Catmull-Rom filter when
// enlarging, the filter widened by the shrink factor, the weights of each
// output pixel summing to one, and pixels past an edge repeating the edge.
// Colours are weighted by their alpha while filtering, so that transparent
// pixels give no colour to their neighbours.
//
// Opaque images, every photo, take a fixed-point path: weights precomputed
// once per output row and column, the vertical pass over whole rows (which
// the compiler vectorises) streamed into the horizontal pass one row at a
// time, so that no intermediate image is made. Images with any transparency
// take an exact floating-point path.
#pragma once

#include <cstdint>
#include <optional>

#include "imaging/pixels/rgba_image.h"

namespace sheetsmith {

// A new width x height image, turned `quarterTurns` quarters clockwise as it
// is made (so that a scaled photo needs no second buffer to be turned), or
// nullopt when either size is below one or the memory cannot be had.
std::optional<RgbaImage> Resample(const RgbaImage& image, int width, int height,
                                  int quarterTurns = 0);

// Opaque input rows made on demand, for a photo that is never held whole.
// The resampler asks for rows in an order that never needs more than the
// `rows` last made at once (the most recent row asked for among them), so a
// source may keep only that many.
class RowSource {
 public:
  virtual ~RowSource() = default;
  // Called once before any row; false when the rows cannot be kept.
  virtual bool Reserve(int rows) = 0;
  // Row y, four bytes a pixel, alpha 255; null when it cannot be made.
  virtual const std::uint8_t* Row(int y) = 0;
};

// Resample of an opaque inWidth x inHeight image given by its rows; nullopt
// when a size is below one, memory cannot be had or a row cannot be made.
std::optional<RgbaImage> ResampleRows(RowSource& source, int inWidth, int inHeight, int width,
                                      int height, int quarterTurns = 0);

}  // namespace sheetsmith
