// Colour conversion of a baked canvas with the Windows Color System.
#pragma once

#include <string>

#include "gdiplus_owners.h"

namespace runner {

// Converts the canvas's colours from the `source` profile to the `target`
// profile (ICC bytes), perceptual intent, in place. False when a profile
// cannot be opened, the conversion cannot be made, or the canvas cannot be
// reached; the canvas may then be partly converted.
bool ConvertCanvasColors(GpBitmap* canvas, const std::string& source, const std::string& target);

}  // namespace runner
