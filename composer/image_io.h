// Decoding, resampling and JPEG encoding, through stb.
#pragma once

#include <optional>
#include <string>

#include "rgba_image.h"

namespace sheetsmith {

// Decodes any format stb_image knows into 4 channels, no vertical flip.
std::optional<RgbaImage> LoadRgba(const std::string& path);

// Resamples into a new width x height image: 8-bit linear RGBA with
// non-premultiplied alpha, clamped edges, the default filter; then turned
// `quarterTurns` quarters clockwise.
std::optional<RgbaImage> Resize(const RgbaImage& image, int width, int height,
                                int quarterTurns = 0);

// Writes the red, green and blue channels as a JPEG at `quality` (the writer
// clamps it into 1..100). True only when the whole file was written; a file
// that was begun but not finished is removed.
bool SaveJpeg(const RgbaImage& image, const std::string& path, int quality);

}  // namespace sheetsmith
