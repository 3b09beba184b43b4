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
  // The EXIF orientation still to be applied to `image`: a WebP's own; 1 for
  // a HEIF or AVIF photo, whose decoder has already turned it by its
  // irot/imir boxes (an EXIF orientation there says the same again).
  int orientation = 1;
  // The EXIF block (from its TIFF header on), empty when the file has none:
  // for the capture time, wherever it is wanted.
  std::string exif;
};

}  // namespace sheetsmith
