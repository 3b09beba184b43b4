// A photo of a format decoded whole (HEIF, AVIF, WebP), with what its file
// says of it beside the pixels.
#pragma once

#include <string>

#include "imaging/color/conversion.h"
#include "imaging/color/embedded_profiles.h"
#include "imaging/pixels/rgba_image.h"

namespace sheetsmith {

struct WholePhoto {
  RgbaImage image;
  EmbeddedProfile profile;
  SourceColors colors = SourceColors::kRgb;
  // Quarter turns clockwise that bring `image` upright, still to be made as
  // it is scaled: a WebP's EXIF orientation (UprightQuarterTurns), a HEIF
  // grid's irot box (its tiles are laid as stored); none for other HEIF and
  // AVIF photos, which their decoder has turned. An EXIF orientation inside
  // a HEIF or AVIF file says the same again and is not applied.
  int uprightQuarterTurns = 0;
  // The EXIF block (from its TIFF header on), empty when the file has none:
  // for the capture time, wherever it is wanted.
  std::string exif;
};

}  // namespace sheetsmith
