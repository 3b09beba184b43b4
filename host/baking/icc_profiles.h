// ICC colour profiles for baking: the plan of what a bake does with a
// photo's colours for the stored selection, on the colour management the
// page composer uses too (imaging/color/), so that a photo has the same
// colours baked as on a grid page. Bytes in, bytes out: the conversion of a
// canvas is color_transform.h.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "imaging/color/color_plan.h"

namespace runner {

using sheetsmith::EmbeddedProfile;
using sheetsmith::EmbedSegments;
using sheetsmith::FindEmbeddedProfile;
using sheetsmith::IccSegments;
using sheetsmith::kMaxProfileBytes;
using sheetsmith::ProfileFileReader;

// What an ICC profile's header and description say.
struct IccProfile {
  std::string bytes;
  std::string description;        // the 'desc' tag's text; empty when it has none
  std::uint32_t deviceClass = 0;  // 'mntr', 'prtr', 'scnr', 'spac', 'abst', ...
  std::uint32_t colorSpace = 0;   // 'RGB ', 'GRAY', 'CMYK', ...
};

// The profile in `bytes` (cut to the size it declares), or nullopt with the
// reason in `problem` when they are no ICC profile Little CMS can open.
std::optional<IccProfile> ParseIccProfile(std::string bytes, std::string* problem);

// Why a profile cannot be what colours are converted to, or nullopt when it can.
std::optional<std::string> ReasonNotATarget(const IccProfile& profile);

// The profiles made for sRGB and Adobe RGB (1998), those of the composer.
const std::string& HostSrgbProfile();
const std::string& HostAdobeRgbProfile();

// What baking does with one photo's colours for the stored selection.
struct ColorPlan {
  std::string failure;       // not empty: the photo fails with this text
  bool convert = false;      // convert the canvas from `source` to `target`
  bool embedTarget = false;  // the baked JPEG carries `target`
  std::string source;        // profile bytes
  std::string target;
  std::string sourceName;  // for the log
  std::string targetName;
  // The bake's target as it was resolved for this plan, for what else the
  // canvas holds (its border, its frame).
  sheetsmith::ColorTarget colorTarget;
  // What the photo's pixels take as the reader reads them: the conversion
  // of grey and CMYK pixels by their own profile, straight to `target`
  // (then the canvas is not converted again). Empty for RGB pixels.
  sheetsmith::SourcePlan photo;
};

// The plan for a photo whose file starts with `photoStart`, under `selection`
// ("srgb", "adobe_rgb", "no_conversion", "custom:" and a path; anything else
// counts as sRGB). A damaged or non-RGB embedded profile counts as none,
// with a line to `log`. An sRGB photo for "srgb" is left as it is, carrying
// nothing.
ColorPlan PlanColors(const std::string& selection, std::string_view photoStart,
                     const ProfileFileReader& readProfile,
                     const std::function<void(const std::string&)>& log);

// The same for a photo the shared reader reads, from the profile it found
// and what its pixels are. RGB pixels are planned as above; grey and CMYK
// pixels with a profile of theirs are converted as they are read, as the
// page composer converts them.
ColorPlan PlanColors(const std::string& selection, const EmbeddedProfile& embedded,
                     sheetsmith::SourceColors pixels, const ProfileFileReader& readProfile,
                     const std::function<void(const std::string&)>& log);

}  // namespace runner
