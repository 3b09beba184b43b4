// GDI+ through its flat interface, with an owner for every object.
#pragma once

#include <windows.h>
// After windows.h:
#include <gdiplus.h>
#include <objidl.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "imaging/pixels/rgba_image.h"
#include "win32_owners.h"

namespace runner {

namespace gdip = Gdiplus::DllExports;
using Gdiplus::GpBitmap;
using Gdiplus::GpGraphics;
using Gdiplus::GpImage;

inline void DisposeImage(GpImage* image) { gdip::GdipDisposeImage(image); }
inline void DisposeBitmap(GpBitmap* bitmap) { gdip::GdipDisposeImage(bitmap); }
inline void DeleteGraphics(GpGraphics* graphics) { gdip::GdipDeleteGraphics(graphics); }

using GdiplusImage = Unique<GpImage, &DisposeImage>;
using GdiplusBitmap = Unique<GpBitmap, &DisposeBitmap>;
using GdiplusGraphics = Unique<GpGraphics, &DeleteGraphics>;

// GDI+ started for as long as the object lives.
class GdiplusSession {
 public:
  GdiplusSession();
  ~GdiplusSession();
  GdiplusSession(const GdiplusSession&) = delete;
  GdiplusSession& operator=(const GdiplusSession&) = delete;
  bool ok() const { return ok_; }

 private:
  ULONG_PTR token_ = 0;
  bool ok_ = false;
};

// The installed encoder for a MIME type such as L"image/jpeg".
std::optional<CLSID> FindImageEncoder(const wchar_t* mimeType);

// EncoderQuality with one long value, for GdipSaveImageToFile.
class JpegQualityParameter {
 public:
  explicit JpegQualityParameter(std::int32_t quality);
  const Gdiplus::EncoderParameters* get() const { return &parameters_; }

 private:
  ULONG quality_;
  Gdiplus::EncoderParameters parameters_;
};

// A bitmap decoded from a file, or null.
GdiplusBitmap LoadBitmapFromFile(const std::wstring& path);

// A new bitmap of the size and pixel format, or null.
GdiplusBitmap CreateBitmap(int width, int height, Gdiplus::PixelFormat format);

GdiplusGraphics GraphicsFor(GpImage* image);

// A 32-bit ARGB bitmap of the image's pixels (red, green, blue, alpha as the
// reader gives them), turned `quarterTurns` quarters clockwise; null when
// the memory cannot be had.
GdiplusBitmap BitmapFromImage(const sheetsmith::RgbaImage& image, int quarterTurns = 0);

// The image as the bytes of a JPEG file that carries the colour profile
// `profile` (its APP2 segments after the JFIF segment): encoded into memory,
// the segments put in. Nullopt, with the status in `status`, when it cannot
// be encoded.
std::optional<std::string> JpegCarryingProfile(GpImage* image, const CLSID& jpeg,
                                               const JpegQualityParameter& quality,
                                               std::string_view profile, Gdiplus::GpStatus* status);

// Writes bytes as a new file (replacing one there), through to the disk; a
// file not wholly written is removed. False when it could not be written.
bool WriteWholeFile(const std::wstring& path, std::string_view bytes);

// Saves the image as a JPEG file beside its path, under a partial name of
// this writer's own, writes it through to the disk and moves it into place
// when whole. So a file cut short (by a failure, or by a power cut), one an
// earlier run left, or one another writer is making never stands there as
// this one. With a `profile`, the file carries it.
Gdiplus::GpStatus SaveJpegWhole(GpImage* image, const std::string& path, const CLSID& jpeg,
                                const JpegQualityParameter& quality, std::string_view profile);

// What was written to a stream made by CreateStreamOnHGlobal: as many bytes
// as the stream holds, which may be fewer than its memory block; nullopt
// when it holds none or cannot say.
std::optional<std::vector<std::uint8_t>> StreamBytes(IStream* stream);

}  // namespace runner
