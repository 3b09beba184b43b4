// Little CMS converts the canvas, as it converts the composer's pages: both
// profiles joined into one conversion, every row of the 32-bit canvas (blue,
// green, red, alpha in memory) converted in place, alpha kept.
#include <windows.h>

#include "color_transform.h"
#include "imaging/color/color_plan.h"

namespace runner {
namespace {

// Unlocks the canvas's bits when it goes.
class LockedBits {
 public:
  LockedBits(GpBitmap* bitmap, UINT width, UINT height) : bitmap_(bitmap) {
    const Gdiplus::GpRect all(0, 0, static_cast<INT>(width), static_cast<INT>(height));
    locked_ = gdip::GdipBitmapLockBits(bitmap, &all,
                                       Gdiplus::ImageLockModeRead | Gdiplus::ImageLockModeWrite,
                                       PixelFormat32bppARGB, &data_) == Gdiplus::Ok;
  }
  ~LockedBits() {
    if (locked_) gdip::GdipBitmapUnlockBits(bitmap_, &data_);
  }
  LockedBits(const LockedBits&) = delete;
  LockedBits& operator=(const LockedBits&) = delete;

  bool ok() const { return locked_ && data_.Stride > 0; }
  BYTE* Rows() { return static_cast<BYTE*>(data_.Scan0); }
  std::size_t Stride() const { return static_cast<std::size_t>(data_.Stride); }

 private:
  GpBitmap* bitmap_;
  Gdiplus::BitmapData data_{};
  bool locked_ = false;
};

}  // namespace

bool ConvertCanvasColors(GpBitmap* canvas, const std::string& source, const std::string& target) {
  const std::shared_ptr<const sheetsmith::ColorConversion> conversion =
      sheetsmith::ColorConversion::Make(source, sheetsmith::SourceColors::kRgb, target,
                                        sheetsmith::PixelLayout::kBgra, nullptr);
  return conversion && ConvertBitmapColors(canvas, *conversion);
}

bool ConvertBitmapColors(GpBitmap* bitmap, const sheetsmith::ColorConversion& conversion) {
  UINT width = 0;
  UINT height = 0;
  gdip::GdipGetImageWidth(bitmap, &width);
  gdip::GdipGetImageHeight(bitmap, &height);
  LockedBits bits(bitmap, width, height);
  if (!bits.ok()) return false;
  conversion.ApplyRows(bits.Rows(), static_cast<int>(width), static_cast<int>(height),
                       bits.Stride());
  return true;
}

}  // namespace runner
