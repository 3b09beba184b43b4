// JPEG photos read with libjpeg-turbo, row by row, at the smallest of its
// DCT scales (M/8) that still leaves the resampler a part of the reduction
// (DctScaleEighths), so that the resampler finishes the scaling with its own
// filter and the full-size photo is never made. Every kind of JPEG file: grey, YCbCr, RGB,
// CMYK and YCCK (Adobe's inverted form), baseline and progressive, with
// restart markers and any sampling factors.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "imaging/color/conversion.h"
#include "imaging/color/embedded_profiles.h"
#include "imaging/pixels/resample.h"
#include "imaging/pixels/rgba_image.h"
#include "imaging/reading/read_problem.h"

namespace sheetsmith {

// Photos of more pixels than this are refused: no real photo has them, and
// a header claiming them is a way to make the decoder work for nothing.
inline constexpr std::uint64_t kMaxJpegPixels = std::uint64_t{1} << 30;

// Images decoded whole (frames, and photos of other formats), four bytes a
// pixel: one that claims more pixels than this is refused before anything
// is allocated for it.
inline constexpr std::uint64_t kMaxWholeImagePixels = std::uint64_t{1} << 27;

// What libjpeg may hold for one photo: as much as the largest whole image.
// A progressive or multi-scan file keeps every DCT coefficient of the photo
// until its last scan (two bytes each, six a pixel at 4:4:4), so a header of
// a few bytes could otherwise claim gigabytes; a photo whose coefficients do
// not fit fails before more than this is allocated. Sequential files need
// only a few rows and never come near it.
inline constexpr long kMaxJpegDecoderBytes = 512L * 1024 * 1024;

// How much of a photo's reduction is left to the resampler at least: a
// photo is decoded at a DCT scale only when that scale is still 3/2 of the
// wanted size. A reduced inverse DCT is a block shrink, and a resampler left
// almost nothing to smooth passes its aliasing onto the page: six real
// photos alone on pages of their magnet's size, decoded at 1/4 for 4 : 1,
// came within 44.4 dB of the pages of the photos decoded whole, where
// sharp, which leaves 2 : 1 there, comes within 46.7 (scripts/bench.sh
// --quality). With 3/2 left no reduction is
// decoded at a smaller scale than sharp decodes it (so from 2 : 1 to 3 : 1,
// where sharp decodes whole, the photo is decoded whole too), and the
// standard 3.3 : 1 magnet (1.65 left at 1/2) keeps its scale. Compared
// exactly, in integers.
inline constexpr int kLeftToResamplerNumerator = 3;
inline constexpr int kLeftToResamplerDenominator = 2;

// The smallest M of 1, 2, 4 and 8 for which a width x height photo decoded
// at M/8 (each side rounded up) is at least 3/2 of wantedWidth x
// wantedHeight on both sides; 8 (whole) when none is. The
// scales between are left out: their odd-sized inverse DCTs have no vector
// code in libjpeg-turbo, and decode a photo more slowly and less like the
// whole photo scaled than the next power of two does.
int DctScaleEighths(int width, int height, int wantedWidth, int wantedHeight);

class JpegReader final : public RowSource {
 public:
  // Opens the file and reads its header. Null when it cannot be opened, is
  // not a JPEG file (`notJpeg` is then set; only its first bytes were read),
  // or its header is damaged or claims too many pixels; `problem`, when
  // given, says which.
  static std::unique_ptr<JpegReader> Open(const std::string& path, bool& notJpeg,
                                          ReadProblem* problem = nullptr);
  ~JpegReader() override;
  JpegReader(const JpegReader&) = delete;
  JpegReader& operator=(const JpegReader&) = delete;

  int width() const { return width_; }
  int height() const { return height_; }

  // The colour profile the file carries, and what its pixels are.
  EmbeddedProfile embeddedProfile() const;
  SourceColors colors() const { return colors_; }
  // Before Start or DecodeWhole: the rows of a CMYK or YCCK photo are its
  // inks as stored (Adobe's inverted form, black in the fourth byte), for a
  // colour conversion to turn into RGB, instead of the light they let
  // through.
  void KeepInks() { keepInks_ = true; }

  // Starts decoding at the scale DctScaleEighths chooses for the wanted
  // size (full size when the wanted size is 0 x 0). False when decoding
  // cannot start; else scaledWidth() x scaledHeight() rows follow.
  bool Start(int wantedWidth, int wantedHeight);
  int scaledWidth() const { return scaledWidth_; }
  int scaledHeight() const { return scaledHeight_; }

  // RowSource: rows of the scaled photo in order, RGBA with alpha 255. A row
  // is null once the data is damaged or ends before the picture does.
  bool Reserve(int rows) override;
  const std::uint8_t* Row(int y) override;

  // The whole photo at full size, read row by row, instead of Start; nullopt
  // when it cannot be, or claims more than kMaxWholeImagePixels.
  std::optional<RgbaImage> DecodeWhole();
  // Open, then DecodeWhole.
  static std::optional<RgbaImage> LoadWhole(const std::string& path, bool& notJpeg);

  // Why Start, a row or DecodeWhole failed: the file ended before the
  // picture did, or its data is damaged.
  ReadProblem failure() const;
  // Time spent making rows (decoding), in nanoseconds.
  std::int64_t rowNanoseconds() const { return rowNs_; }

  struct State;

 private:
  JpegReader() = default;
  // Rows are read this many at a time, into the ring beyond those it keeps.
  static constexpr int kRowsPerRead = 16;
  bool ReadNextRow(std::uint8_t* out);
  bool ReadRowsInto(int count);
  std::uint8_t* Slot(int row);

  std::unique_ptr<State> state_;
  int width_ = 0;
  int height_ = 0;
  int scaledWidth_ = 0;
  int scaledHeight_ = 0;
  bool cmyk_ = false;
  bool keepInks_ = false;
  SourceColors colors_ = SourceColors::kRgb;
  bool failed_ = false;
  std::vector<std::uint8_t> ring_;
  std::vector<std::uint8_t> cmykRow_;
  int ringRows_ = 0;
  int nextRow_ = 0;
  std::int64_t rowNs_ = 0;
};

}  // namespace sheetsmith
