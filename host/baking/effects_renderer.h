// The host renderer: one photo onto a canvas of exactly one magnet's size,
// with zoom, pan, a quarter turn, a border stroke and a frame. GDI+ must be
// started by the caller (GdiplusRefCount).
#pragma once

#include <string>

#include "bake_request.h"
#include "gdiplus_owners.h"

namespace runner {

// The canvas, or null when the photo cannot be loaded.
GdiplusBitmap RenderImageWithEffects(const BakeRequest& request);

// Scaled decode, else the plain decoder, then turned upright by the file's
// EXIF orientation (or, for files without one that the plain decoder reads,
// by the orientation it reports). The wanted size is upright.
GdiplusBitmap LoadCanvasImage(const std::wstring& path, int wantedWidth, int wantedHeight);

// WIC decode at a reduced size when that saves more than a quarter of a
// side, as 32-bit ARGB; null when WIC cannot decode the file.
GdiplusBitmap DecodeScaled(const std::wstring& path, int wantedWidth, int wantedHeight);

// Turns a plain-decoded bitmap upright by its EXIF orientation (3, 6, 8);
// other values, and bitmaps without the tag, come back as they are.
GdiplusBitmap CorrectOrientation(GdiplusBitmap decoded);

// Turns a bitmap upright for an EXIF orientation of 3, 6 or 8; any other
// value returns it as it is.
GdiplusBitmap TurnUpright(GdiplusBitmap decoded, int orientation);

// Same size, same pixel format, the same pixels.
GdiplusBitmap CopyBitmap(GpBitmap* source);

}  // namespace runner
