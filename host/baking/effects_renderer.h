// The host renderer: one photo onto a canvas of exactly one magnet's size,
// with zoom, pan, a quarter turn, a border stroke and a frame. GDI+ must be
// started by the caller (GdiplusRefCount).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "bake_geometry.h"
#include "bake_request.h"
#include "gdiplus_owners.h"
#include "reader_photos.h"

namespace runner {

// A photo loaded for a canvas, upright; null, with why when that is known.
struct CanvasPhoto {
  GdiplusBitmap bitmap;
  std::string reason;
};
// Loads the photo at `path` (UTF-8) wanted at about `want`, upright.
using CanvasPhotoLoader = std::function<CanvasPhoto(const std::string& path, Size want)>;

// What the colours of a canvas take, each part from its own colours to
// the bake's target: the photo's, once it is drawn and before anything else
// is (false: it could not be converted); the border's colour, chosen in
// sRGB (0xAARRGGBB); a frame's, from its own profile as the reader reads it.
// Each may be empty: that part is drawn as it is.
struct CanvasColors {
  std::function<bool(GpBitmap* canvas)> convertPhoto;
  std::function<std::uint32_t(std::uint32_t argb)> stroke;
  ColorStep frame;
};

// The canvas, or null when the photo cannot be loaded (then `reason` is
// told why, when that is known) or its colours cannot be converted. The
// frame is read as the photos are: by the shared reader when it reads its
// format (its colours through `colors.frame`), else by GDI+ as it stands.
GdiplusBitmap RenderImageWithEffects(const BakeRequest& request, const CanvasPhotoLoader& load,
                                     std::string* reason, const CanvasColors& colors = {});

// The photo for a canvas read by the shared reader (ReaderTakes), decoded
// at the size a scaled decode gives (ScaledDecodeSize of `want`) or whole,
// its pixels through `colors`.
CanvasPhoto ReadCanvasPhoto(const std::string& path, Size want, const ColorStep& colors);

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
