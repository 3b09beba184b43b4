// Colour management, one meaning for both programs: the colour target a user
// chose, the profile a photo carries, the profiles made for sRGB and Adobe
// RGB (1998), conversions between them, and the JPEG segments that carry a
// profile into a file. Little CMS is the engine; this file holds what the
// programs decide around it. Portable: the composer and the host's baking
// and own composer use it alike, so the same photo gets the same colours on
// every road.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sheetsmith {

// Profiles larger than this are refused, wherever they come from: real ones
// are a few kilobytes, the largest table-based ones a few megabytes.
inline constexpr std::size_t kMaxProfileBytes = std::size_t{16} << 20;

// How much of a photo file is read for the profile it carries, where the
// file is not decoded by the composer's own reader: the profile comes before
// the picture's data, after at most the EXIF block.
inline constexpr std::size_t kPhotoStartBytes = std::size_t{4} << 20;

// The user's choice ("srgb", "adobe_rgb", "no_conversion", or "custom:"
// and a profile file's path), as the host stores it. Anything else counts
// as sRGB.
struct ColorSelection {
  enum class Kind { kSrgb, kAdobeRgb, kNone, kCustom };
  Kind kind = Kind::kSrgb;
  std::string customPath;  // for kCustom
};
ColorSelection ParseColorSelection(const std::string& stored);

// A four-letter ICC signature as a profile stores it ('RGB ', 'mntr', ...).
constexpr std::uint32_t IccSignature(std::string_view text) {
  return (static_cast<std::uint32_t>(static_cast<unsigned char>(text[0])) << 24) |
         (static_cast<std::uint32_t>(static_cast<unsigned char>(text[1])) << 16) |
         (static_cast<std::uint32_t>(static_cast<unsigned char>(text[2])) << 8) |
         static_cast<std::uint32_t>(static_cast<unsigned char>(text[3]));
}

// What Little CMS reads of a profile: its description, class and colours.
struct ProfileInfo {
  std::size_t size = 0;           // the bytes it declares it is, at most those given
  std::string description;        // empty when it has none
  std::uint32_t deviceClass = 0;  // 'mntr', 'prtr', 'scnr', 'spac', 'abst', ...
  std::uint32_t colorSpace = 0;   // 'RGB ', 'GRAY', 'CMYK', ...
};

// The profile in `bytes`, or nullopt with the reason in `problem` when they
// are no ICC profile Little CMS can open: too short, no "acsp" signature, a
// declared size beyond the bytes, more than kMaxProfileBytes, or damaged.
std::optional<ProfileInfo> InspectProfile(std::string_view bytes, std::string* problem);

// Why a profile cannot be what colours are converted to, or nullopt when it
// can: it must hold RGB colours and be of a class that converts from the
// profile connection space (not abstract, device link or named colour).
std::optional<std::string> ReasonNotATarget(const ProfileInfo& profile);

// The signature as text, for messages ("GRAY", "link").
std::string SignatureText(std::uint32_t signature);

// Matrix/TRC display profiles (ICC version 4, as Little CMS makes its own:
// a version 2 target would lose the black point scaling that perceptual
// conversions from print profiles get), made by Little CMS from published
// values, the same bytes every time: sRGB (IEC 61966-2-1 primaries, D65,
// its two-part curve) and one compatible with Adobe RGB (1998) (its
// primaries, D65, gamma 563/256).
const std::string& SrgbProfile();
const std::string& AdobeRgbProfile();

// The profile a photo carries.
struct EmbeddedProfile {
  enum class State { kNone, kFound, kDamaged };
  State state = State::kNone;
  std::string bytes;    // when found
  std::string problem;  // when damaged
};

// The profile held by a JPEG's APP2 segments, given their data (what follows
// each segment's length, "ICC_PROFILE" and NUL first), joined by their
// numbers. `cutShort`: the file ended inside a segment.
EmbeddedProfile JoinIccChunks(const std::vector<std::string_view>& app2Segments,
                              bool cutShort = false);

// The profile of a PNG's iCCP chunk data (name, NUL, method, compressed).
EmbeddedProfile IccpProfile(std::string_view chunkData);

// The profile a photo carries, read from the file's first bytes: a JPEG's
// APP2 "ICC_PROFILE" chunks joined in order, or a PNG's iCCP chunk inflated.
EmbeddedProfile FindEmbeddedProfile(std::string_view file);

// The APP2 segments (marker included) that carry a profile in a JPEG file:
// "ICC_PROFILE", NUL, the chunk's number from 1 and the count, at most 65519
// bytes of the profile each.
std::vector<std::string> IccSegments(std::string_view profile);

// The JPEG with the segments put after its start (and its JFIF segment, which
// must come first); nullopt when the bytes do not start as a JPEG.
std::optional<std::string> EmbedSegments(std::string_view jpeg,
                                         const std::vector<std::string>& segments);

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
  bool cmyk_ = false;
  std::size_t pixelBytes_ = 4;
  int red_ = 0;  // where red and blue are in a pixel
  int blue_ = 2;
};

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

// The conversions of one run to one target, each made once for each source
// profile and shared by every photo that carries it. Thread-safe.
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
    std::shared_ptr<const ColorConversion> conversion;
    std::string problem;
  };
  std::string target_;
  PixelLayout layout_;
  std::mutex mutex_;
  std::map<std::pair<std::string, SourceColors>, Made> made_;
};

}  // namespace sheetsmith
