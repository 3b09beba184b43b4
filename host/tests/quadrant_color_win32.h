// Which quadrant colour a pixel of a GDI+ bitmap shows, for bitmaps made
// from testsupport::Quadrants.
#pragma once

#include "gdiplus_owners.h"

namespace runner::testing_win32 {

// Red, green, blue or yellow for a Quadrants pixel; '?' for anything else.
inline char QuadrantColorAt(GpBitmap* bitmap, int x, int y) {
  Gdiplus::ARGB color = 0;
  gdip::GdipBitmapGetPixel(bitmap, x, y, &color);
  const int r = (color >> 16) & 0xFF, g = (color >> 8) & 0xFF, b = color & 0xFF;
  if (r > 160 && g > 160 && b < 100) return 'Y';
  if (r > 160 && g < 100 && b < 100) return 'R';
  if (r < 100 && g > 160 && b < 100) return 'G';
  if (r < 100 && g < 100 && b > 160) return 'B';
  return '?';
}

}  // namespace runner::testing_win32
