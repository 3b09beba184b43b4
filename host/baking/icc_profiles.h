// ICC colour profiles for baking: the profile a photo carries, the profiles
// the host makes for sRGB and Adobe RGB (1998), a custom profile checked
// before use, the plan of what a bake does with a photo's colours, and the
// JPEG segments that carry a profile into the baked file. Bytes in, bytes
// out: the conversion itself is the platform's (color_transform.h).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace runner {

// Profiles larger than this are refused: real ones are a few kilobytes, the
// largest table-based ones a few megabytes.
inline constexpr std::size_t kMaxProfileBytes = std::size_t{16} << 20;

// What an ICC profile's header and description say.
struct IccProfile {
  std::string bytes;
  std::string description;        // the 'desc' tag's text; empty when it has none
  std::uint32_t deviceClass = 0;  // 'mntr', 'prtr', 'scnr', 'spac', 'abst', ...
  std::uint32_t colorSpace = 0;   // 'RGB ', 'GRAY', 'CMYK', ...
};

// The profile in `bytes`, or nullopt with the reason in `problem` when they
// are no ICC profile (too short, no "acsp" signature, a declared size or a
// tag beyond the bytes).
std::optional<IccProfile> ParseIccProfile(std::string bytes, std::string* problem);

// Why a profile cannot be what colours are converted to, or nullopt when it
// can: it must hold RGB colours and be of a class that converts from the
// profile connection space (not abstract, device link or named colour).
std::optional<std::string> ReasonNotATarget(const IccProfile& profile);

// The profile a photo carries, read from the file's first bytes: a JPEG's
// APP2 "ICC_PROFILE" chunks joined in order, or a PNG's iCCP chunk inflated.
struct EmbeddedProfile {
  enum class State { kNone, kFound, kDamaged };
  State state = State::kNone;
  std::string bytes;    // when found
  std::string problem;  // when damaged
};
EmbeddedProfile FindEmbeddedProfile(std::string_view file);

// The profiles the host makes from published values: sRGB (IEC 61966-2-1
// primaries, D65, its two-part curve) and one compatible with Adobe RGB
// (1998) (its primaries, D65, gamma 563/256). ICC version 2 matrix/TRC
// display profiles.
const std::string& HostSrgbProfile();
const std::string& HostAdobeRgbProfile();

// The APP2 segments (marker included) that carry a profile in a JPEG file:
// "ICC_PROFILE", NUL, the chunk's number from 1 and the count, at most 65519
// bytes of the profile each.
std::vector<std::string> IccSegments(std::string_view profile);

// The JPEG with the segments put after its start (and its JFIF segment, which
// must come first); nullopt when the bytes do not start as a JPEG.
std::optional<std::string> EmbedSegments(std::string_view jpeg,
                                         const std::vector<std::string>& segments);

// What baking does with one photo's colours for the stored selection.
struct ColorPlan {
  std::string failure;       // not empty: the photo fails with this text
  bool convert = false;      // convert the canvas from `source` to `target`
  bool embedTarget = false;  // the baked JPEG carries `target`
  std::string source;        // profile bytes
  std::string target;
  std::string sourceName;  // for the log
  std::string targetName;
};

// Reads a custom profile's file (at most kMaxProfileBytes + 1 bytes of it),
// or nullopt when it cannot be read.
using ProfileFileReader = std::function<std::optional<std::string>(const std::string& path)>;

// The plan for a photo whose file starts with `photoStart`, under `selection`
// ("srgb", "adobe_rgb", "no_conversion", "custom:" and a path; anything else
// counts as sRGB). A damaged embedded profile counts as none, with a line to
// `log`. An sRGB photo for "srgb" is left as it is, carrying nothing.
ColorPlan PlanColors(const std::string& selection, std::string_view photoStart,
                     const ProfileFileReader& readProfile,
                     const std::function<void(const std::string&)>& log);

}  // namespace runner
