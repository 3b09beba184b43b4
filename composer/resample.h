// The composer's resampler: separable cubic filtering of 8-bit RGBA.
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

#include "rgba_image.h"

namespace sheetsmith {

// A new width x height image, turned `quarterTurns` quarters clockwise as it
// is made (so that a scaled photo needs no second buffer to be turned), or
// nullopt when either size is below one or the memory cannot be had.
std::optional<RgbaImage> Resample(const RgbaImage& image, int width, int height,
                                  int quarterTurns = 0);

}  // namespace sheetsmith
