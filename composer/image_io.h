// Decoding, resampling and JPEG encoding, through stb.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "rgba_image.h"

namespace sheetsmith {

// Decodes any format stb_image knows into 4 channels, no vertical flip.
std::optional<RgbaImage> LoadRgba(const std::string& path);

// A photo decoded far enough to be scaled. A JPEG photo is kept as the
// decoder's planes (a quarter to half the size of its pixels) and its pixel
// rows are made only as the scaling reads them, a few at a time, so that the
// full-size photo is never held; other formats are decoded whole.
class DecodedPhoto {
 public:
  // Nullopt when the file cannot be opened or decoded.
  static std::optional<DecodedPhoto> Open(const std::string& path);

  DecodedPhoto(DecodedPhoto&&) noexcept;
  DecodedPhoto& operator=(DecodedPhoto&&) noexcept;
  ~DecodedPhoto();

  int width() const { return width_; }
  int height() const { return height_; }

  // The photo scaled to width x height, then turned `quarterTurns` quarters
  // clockwise, as Resize would make it from the whole photo. Once only.
  std::optional<RgbaImage> Scale(int width, int height, int quarterTurns);
  // The whole photo, for when it cannot be scaled. Once only, instead of Scale.
  std::optional<RgbaImage> Whole();
  // Time spent making pixel rows from the decoder's planes (part of decoding).
  std::int64_t rowNanoseconds() const;

  struct JpegPlanes;

 private:
  DecodedPhoto() = default;
  int width_ = 0;
  int height_ = 0;
  std::optional<RgbaImage> whole_;
  std::unique_ptr<JpegPlanes> planes_;
  std::int64_t rowNs_ = 0;
};

// Resamples into a new width x height image: 8-bit linear RGBA with
// non-premultiplied alpha, clamped edges, the default filter; then turned
// `quarterTurns` quarters clockwise.
std::optional<RgbaImage> Resize(const RgbaImage& image, int width, int height,
                                int quarterTurns = 0);

// Writes the red, green and blue channels as a JPEG at `quality` (the writer
// clamps it into 1..100), under PartialPath(path) and then moved to `path`.
// True only when the whole file was written; a file that was begun but not
// finished is removed, and whatever stood at `path` before stays.
bool SaveJpeg(const RgbaImage& image, const std::string& path, int quality);

}  // namespace sheetsmith
