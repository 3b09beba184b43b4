// Colour conversions between two profiles, with Little CMS, over pixels as
// the programs hold them; between two RGB matrix/TRC profiles on a quick
// road of tables computed from the curves and colorants Little CMS reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "imaging/color/profiles.h"

namespace sheetsmith {

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
  // Adobe RGB targets are) Little CMS's conversion is each channel through
  // the source's curve, a 3 x 3 matrix of the two profiles' colorants, and
  // each channel through the target's inverted curve, clipped; it makes that
  // about 14 ns a pixel for RGBA pixels, a tenth of a job's time for a page
  // of tagged photos. The quick road computes the same from the curves and
  // colorants Little CMS reads, in tables: the input curves for every byte,
  // the output curves at kQuickSteps points, within a level of Little CMS.
  struct Quick;

 private:
  ColorConversion() = default;
  void ApplyQuick(std::uint8_t* pixels, std::size_t count) const;

  std::shared_ptr<const Quick> quick_;
  void* transform_ = nullptr;
  bool identity_ = false;
  bool cmyk_ = false;
  std::size_t pixelBytes_ = 4;
  int red_ = 0;  // where red and blue are in a pixel
  int blue_ = 2;
};

}  // namespace sheetsmith
