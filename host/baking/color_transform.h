// Colour conversion of GDI+ bitmaps with Little CMS, the composer's engine.
#pragma once

#include <string>

#include "gdiplus_owners.h"
#include "imaging/color/color_plan.h"

namespace runner {

// Converts the canvas's colours from the `source` profile to the `target`
// profile (ICC bytes), perceptual intent, in place. False when a profile
// cannot be opened, the two cannot be joined, or the canvas cannot be
// reached; nothing is converted then.
bool ConvertCanvasColors(GpBitmap* canvas, const std::string& source, const std::string& target);

// Converts a bitmap's colours in place with a conversion made for blue,
// green, red and alpha (PixelLayout::kBgra); the bitmap is read and written
// as 32-bit ARGB. False when its pixels cannot be reached.
bool ConvertBitmapColors(GpBitmap* bitmap, const sheetsmith::ColorConversion& conversion);

}  // namespace runner
