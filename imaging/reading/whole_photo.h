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

// What a photo's file says of it without its pixels being decoded: for
// metadata, where decoding a phone photo whole would take longer than the
// answer is worth.
struct PhotoOutline {
  int width = 0;  // as displayed: after every turn the photo's file asks for
  int height = 0;
  std::string exif;  // as WholePhoto::exif
};

}  // namespace sheetsmith
