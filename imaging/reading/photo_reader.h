// The photo reader: photos and frames of every kind the programs read,
// decoded by the reader of their kind, with the colour profile they carry.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "imaging/color/conversion.h"
#include "imaging/color/embedded_profiles.h"
#include "imaging/pixels/rgba_image.h"

namespace sheetsmith {

// Decodes a photo or frame into 4 channels, no vertical flip: JPEG files
// with libjpeg-turbo, the other formats stb_image knows with it.
std::optional<RgbaImage> LoadRgba(const std::string& path);

class JpegReader;

// A photo decoded far enough to be scaled. A JPEG photo is only opened: its
// rows are decoded at a reduced scale as the scaling reads them, a few at a
// time, so that the full-size photo is never held; other formats are
// decoded whole.
class DecodedPhoto {
 public:
  // Nullopt when the file cannot be opened or decoded.
  static std::optional<DecodedPhoto> Open(const std::string& path);

  DecodedPhoto(DecodedPhoto&&) noexcept;
  DecodedPhoto& operator=(DecodedPhoto&&) noexcept;
  ~DecodedPhoto();

  int width() const { return width_; }
  int height() const { return height_; }

  // The colour profile the file carries, and what its pixels are.
  const EmbeddedProfile& profile() const { return profile_; }
  SourceColors colors() const { return colors_; }
  // Before Scale or Whole: a CMYK photo's pixels are its inks as stored
  // (JpegReader::KeepInks), for a colour conversion to turn into RGB.
  void KeepInks();

  // The photo scaled to width x height, then turned `quarterTurns` quarters
  // clockwise, as Resize would make it from the whole photo up to the
  // decoder's scaling. Once only.
  std::optional<RgbaImage> Scale(int width, int height, int quarterTurns);
  // The whole photo, for when it cannot be scaled. Once only, instead of Scale.
  std::optional<RgbaImage> Whole();
  // Time spent decoding rows while scaling (part of decoding).
  std::int64_t rowNanoseconds() const;

 private:
  DecodedPhoto() = default;
  int width_ = 0;
  int height_ = 0;
  std::optional<RgbaImage> whole_;
  std::unique_ptr<JpegReader> jpeg_;
  EmbeddedProfile profile_;
  SourceColors colors_ = SourceColors::kRgb;
  bool started_ = false;
  std::int64_t rowNs_ = 0;
};

}  // namespace sheetsmith
