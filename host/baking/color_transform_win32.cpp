// The Windows Color System (mscms) converts the canvas: both profiles are
// opened from memory, joined into one transform, and every row of the
// 32-bit canvas goes through it. Rows are translated one at a time through
// a buffer of their own: Wine's TranslateBitmapBits ignores the strides and
// Windows does not promise in-place translation.
#include <windows.h>
// After windows.h:
#include <icm.h>

#include <cstring>
#include <vector>

#include "color_transform.h"

namespace runner {
namespace {

using UniqueProfile = Unique<void, &CloseColorProfile>;
using UniqueTransform = Unique<void, &DeleteColorTransform>;

UniqueProfile OpenFromMemory(const std::string& bytes) {
  PROFILE profile = {PROFILE_MEMBUFFER, const_cast<char*>(bytes.data()),
                     static_cast<DWORD>(bytes.size())};
  return UniqueProfile(OpenColorProfileW(&profile, PROFILE_READ, FILE_SHARE_READ, OPEN_EXISTING));
}

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

  bool ok() const { return locked_; }
  BYTE* Row(UINT y) {
    return static_cast<BYTE*>(data_.Scan0) + static_cast<INT_PTR>(y) * data_.Stride;
  }

 private:
  GpBitmap* bitmap_;
  Gdiplus::BitmapData data_{};
  bool locked_ = false;
};

}  // namespace

bool ConvertCanvasColors(GpBitmap* canvas, const std::string& source, const std::string& target) {
  UniqueProfile from = OpenFromMemory(source);
  UniqueProfile to = OpenFromMemory(target);
  if (!from || !to) return false;
  HPROFILE profiles[2] = {from.get(), to.get()};
  DWORD intent = INTENT_PERCEPTUAL;
  UniqueTransform transform(
      CreateMultiProfileTransform(profiles, 2, &intent, 1, BEST_MODE, INDEX_DONT_CARE));
  if (!transform) return false;

  UINT width = 0;
  UINT height = 0;
  gdip::GdipGetImageWidth(canvas, &width);
  gdip::GdipGetImageHeight(canvas, &height);
  LockedBits bits(canvas, width, height);
  if (!bits.ok()) return false;
  // In memory a 32-bit pixel is blue, green, red, alpha: BM_xRGBQUADS.
  const std::size_t rowBytes = static_cast<std::size_t>(width) * 4;
  std::vector<BYTE> row(rowBytes);
  for (UINT y = 0; y < height; ++y) {
    BYTE* pixels = bits.Row(y);
    std::memcpy(row.data(), pixels, rowBytes);
    if (!TranslateBitmapBits(transform.get(), row.data(), BM_xRGBQUADS, width, 1,
                             static_cast<DWORD>(rowBytes), pixels, BM_xRGBQUADS,
                             static_cast<DWORD>(rowBytes), nullptr, 0)) {
      return false;
    }
  }
  return true;
}

}  // namespace runner
