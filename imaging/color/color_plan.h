// The colour plan of a run: the target the user chose, resolved once; what
// becomes of each photo's or frame's colours; and the conversions made for
// it, once for each source profile. One meaning for both programs, so that
// the same photo gets the same colours on every road.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "imaging/color/conversion.h"
#include "imaging/color/embedded_profiles.h"
#include "imaging/color/profiles.h"
#include "imaging/pixels/rgba_image.h"

namespace sheetsmith {

// The user's choice ("srgb", "adobe_rgb", "no_conversion", or "custom:"
// and a profile file's path), as the host stores it. Anything else counts
// as sRGB.
struct ColorSelection {
  enum class Kind { kSrgb, kAdobeRgb, kNone, kCustom };
  Kind kind = Kind::kSrgb;
  std::string customPath;  // for kCustom
};
ColorSelection ParseColorSelection(const std::string& stored);

// Reads a profile's file (at most kMaxProfileBytes + 1 bytes of it), or
// nullopt when it cannot be read.
using ProfileFileReader = std::function<std::optional<std::string>(const std::string& path)>;

// What a run converts colours to.
struct ColorTarget {
  bool convert = false;  // false: no conversion, the pixels as they are
  std::string profile;   // the target's bytes
  std::string name;      // its description (or the file's path), for the log
  bool isSrgb = false;   // the built-in sRGB: untagged photos stay as they are
  std::string failure;   // not empty: the target cannot be used, and why
};
ColorTarget ResolveColorTarget(const ColorSelection& selection, const ProfileFileReader& read);

class ConversionCache;

// What becomes of the colours of one photo or frame: the conversion they
// take to the target (null: they stay as they are), from the profile the
// file carries when it can be used, else from sRGB. A profile that cannot
// be used (damaged, describing other colours than the pixels, or one that
// cannot be joined to the target) is said in `problem`. A photo without a
// usable profile and an sRGB target stays exactly as it is. `pixels` is
// what the decoder gives; `inksAvailable`: a CMYK photo's inks can be had
// for the conversion (else its pixels are RGB already, and a CMYK profile
// cannot be used).
struct SourcePlan {
  std::shared_ptr<const ColorConversion> conversion;
  bool tagged = false;    // converted from the file's own profile
  bool keepInks = false;  // the decoder is to give the inks
  std::string problem;
};
SourcePlan PlanSourceColors(const EmbeddedProfile& embedded, SourceColors pixels,
                            bool inksAvailable, const ColorTarget& target,
                            ConversionCache& conversions);

// A colour chosen in sRGB (a border's, the cut lines'), as every colour of
// the interface is, in the target's colours: as it is for an sRGB target
// or "no conversion". `conversions` are to the target, in RGBA.
Rgb ChosenColorInTarget(Rgb srgb, const ColorTarget& target, ConversionCache& conversions);

// The conversions of one run to one target, each made once for each source
// profile and shared by every photo that carries it. Thread-safe: a
// conversion is made outside the cache's lock, so a profile that takes
// long to make holds only the workers that wait for the same one.
class ConversionCache {
 public:
  ConversionCache(std::string target, PixelLayout layout)
      : target_(std::move(target)), layout_(layout) {}
  // Null, with the reason, when that source cannot be converted; the answer
  // is kept too.
  std::shared_ptr<const ColorConversion> Get(const std::string& source, SourceColors colors,
                                             std::string* problem);

 private:
  struct Made {
    std::once_flag once;
    std::shared_ptr<const ColorConversion> conversion;
    std::string problem;
  };
  std::string target_;
  PixelLayout layout_;
  std::mutex mutex_;  // guards the map, not what it holds
  std::map<std::pair<std::string, SourceColors>, std::shared_ptr<Made>> made_;
};

}  // namespace sheetsmith
