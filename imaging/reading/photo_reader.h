// The photo reader: photos and frames of every kind the programs read, each
// told by its first bytes and decoded by the reader of its kind, with the
// colour profile it carries, its orientation, and why it could not be read.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "imaging/color/conversion.h"
#include "imaging/color/embedded_profiles.h"
#include "imaging/pixels/rgba_image.h"
#include "imaging/reading/photo_format.h"
#include "imaging/reading/read_problem.h"
#include "imaging/reading/whole_photo.h"

namespace sheetsmith {

// Decodes a photo or frame into 4 channels, no vertical flip, as stored
// (not turned upright): JPEG files with libjpeg-turbo; HEIC, AVIF (libheif)
// and WebP (libwebp); PNG, GIF, BMP and PSD with stb_image.
std::optional<RgbaImage> LoadRgba(const std::string& path, ReadProblem* problem = nullptr);

// What a photo's file says of it, read as cheaply as its format allows: its
// size as displayed (turned upright by its orientation) and its EXIF block.
// HEIF, AVIF and WebP pixels are not decoded, a JPEG's header only is read;
// the other formats are decoded whole. Nullopt, with the reason, when the
// photo could not be read.
std::optional<PhotoOutline> OutlinePhoto(const std::string& path, ReadProblem* problem = nullptr);

// How many threads a HEIF grid's tiles may be decoded on besides the
// reader's own, for every photo read after the call (0, the default: none).
void SetHeifDecoderThreads(int threads);

class JpegReader;

// A photo decoded far enough to be scaled. A JPEG photo is only opened: its
// rows are decoded at a reduced scale as the scaling reads them, a few at a
// time, so that the full-size photo is never held; other formats are
// decoded whole.
class DecodedPhoto {
 public:
  // Nullopt when the file cannot be opened or decoded, with the reason in
  // `problem` when given.
  static std::optional<DecodedPhoto> Open(const std::string& path, ReadProblem* problem = nullptr);

  DecodedPhoto(DecodedPhoto&&) noexcept;
  DecodedPhoto& operator=(DecodedPhoto&&) noexcept;
  ~DecodedPhoto();

  // The size as stored, before uprightQuarterTurns.
  int width() const { return width_; }
  int height() const { return height_; }
  PhotoFormat format() const { return format_; }
  // Quarter turns clockwise that bring the stored pixels upright: a JPEG's
  // or WebP's EXIF orientation (UprightQuarterTurns); none for HEIF and AVIF,
  // whose decoder turns them itself, nor for the formats without EXIF.
  int uprightQuarterTurns() const { return uprightTurns_; }
  // The EXIF block of a HEIF, AVIF or WebP file, from its TIFF header on
  // (empty for the other formats and when there is none).
  const std::string& exif() const { return exif_; }

  // The colour profile the file carries, and what its pixels are.
  const EmbeddedProfile& profile() const { return profile_; }
  SourceColors colors() const { return colors_; }
  // Before Scale or Whole: a CMYK photo's pixels are its inks as stored
  // (JpegReader::KeepInks), for a colour conversion to turn into RGB.
  void KeepInks();

  // The photo scaled to width x height, then turned `quarterTurns` quarters
  // clockwise, as Resample would make it from the whole photo up to the
  // decoder's scaling. Once only.
  std::optional<RgbaImage> Scale(int width, int height, int quarterTurns);
  // The whole photo, for when it cannot be scaled. Once only, instead of Scale.
  std::optional<RgbaImage> Whole();
  // Time spent decoding rows while scaling (part of decoding).
  std::int64_t rowNanoseconds() const;
  // Why Scale or Whole gave nothing.
  const ReadProblem& problem() const { return problem_; }

 private:
  DecodedPhoto() = default;
  int width_ = 0;
  int height_ = 0;
  std::optional<RgbaImage> whole_;
  std::unique_ptr<JpegReader> jpeg_;
  EmbeddedProfile profile_;
  SourceColors colors_ = SourceColors::kRgb;
  PhotoFormat format_ = PhotoFormat::kUnknown;
  int uprightTurns_ = 0;
  std::string exif_;
  ReadProblem problem_;
  bool started_ = false;
  std::int64_t rowNs_ = 0;
};

}  // namespace sheetsmith
