// Colour conversions between two profiles, with Little CMS, over pixels as
// the programs hold them; between two RGB matrix/TRC profiles on a quick
// road that makes Little CMS's numbers in vector loops of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "imaging/color/profiles.h"

namespace sheetsmith {

struct QuickTables;

// How a photo's colours are held in memory, and what they are.
enum class PixelLayout { kRgba, kBgra, kBgr };
enum class SourceColors { kRgb, kGray, kCmyk };

// The colours a profile describes as SourceColors, or nullopt for others.
std::optional<SourceColors> SourceColorsOf(const ProfileInfo& profile);

// One conversion from a source profile to a target, perceptual intent, in
// place over pixels of one layout: RGB as the layout says; grey as its
// first channel (the others equal to it, as decoders give grey); CMYK as
// Adobe keeps it, inverted, in the four bytes of an RGBA pixel. Alpha, and
// the fourth byte of a BGRA pixel, stay as they are; after CMYK the fourth
// byte is 255. Safe to use from several threads at once.
class ColorConversion {
 public:
  // Null with the reason when Little CMS cannot join the two.
  static std::shared_ptr<const ColorConversion> Make(std::string_view source,
                                                     SourceColors sourceColors,
                                                     std::string_view target, PixelLayout layout,
                                                     std::string* problem);
  ~ColorConversion();
  ColorConversion(const ColorConversion&) = delete;
  ColorConversion& operator=(const ColorConversion&) = delete;

  void Apply(std::uint8_t* pixels, std::size_t count) const;
  // A width x height part of an image whose rows are `stride` bytes apart.
  void ApplyRows(std::uint8_t* first, int width, int height, std::size_t stride) const;

  // Whether it takes the quick road of two matrix/TRC profiles.
  bool quick() const { return quick_ != nullptr; }
  // Whether it is from a profile to the same profile, which changes nothing
  // (Little CMS's round trip through the connection space would move dark
  // levels by one or two).
  bool identity() const { return identity_; }

  // Between two RGB matrix/TRC profiles (as phones, cameras and the sRGB and
  // Adobe RGB targets are) Little CMS converts 8-bit pixels in 1.14 fixed
  // point through three tables and a matrix, about 14 ns a pixel for RGBA
  // pixels with its per-pixel packing, a tenth of a job's time for a page of
  // tagged photos. The quick road holds the same tables and matrix, made by
  // the same rules from the curves Little CMS reads and inverts, and runs
  // them over the pixels as they lie: the same bytes, several times sooner.

 private:
  ColorConversion() = default;

  std::shared_ptr<const QuickTables> quick_;
  void* transform_ = nullptr;
  bool identity_ = false;
  bool cmyk_ = false;
  std::size_t pixelBytes_ = 4;
  int red_ = 0;  // where red and blue are in a pixel
  int blue_ = 2;
};

}  // namespace sheetsmith
