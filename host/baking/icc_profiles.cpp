// What a bake does with a photo's colours, planned on the shared colour
// management.
#include "icc_profiles.h"

namespace runner {

std::optional<IccProfile> ParseIccProfile(std::string bytes, std::string* problem) {
  const std::optional<sheetsmith::ProfileInfo> info = sheetsmith::InspectProfile(bytes, problem);
  if (!info) return std::nullopt;
  bytes.resize(info->size);
  IccProfile profile;
  profile.bytes = std::move(bytes);
  profile.description = info->description;
  profile.deviceClass = info->deviceClass;
  profile.colorSpace = info->colorSpace;
  return profile;
}

std::optional<std::string> ReasonNotATarget(const IccProfile& profile) {
  return sheetsmith::ReasonNotATarget(
      {profile.bytes.size(), profile.description, profile.deviceClass, profile.colorSpace});
}

const std::string& HostSrgbProfile() { return sheetsmith::SrgbProfile(); }
const std::string& HostAdobeRgbProfile() { return sheetsmith::AdobeRgbProfile(); }

ColorPlan PlanColors(const std::string& selection, std::string_view photoStart,
                     const ProfileFileReader& readProfile,
                     const std::function<void(const std::string&)>& log) {
  return PlanColors(selection, FindEmbeddedProfile(photoStart), sheetsmith::SourceColors::kRgb,
                    readProfile, log);
}

ColorPlan PlanColors(const std::string& selection, const EmbeddedProfile& embedded,
                     sheetsmith::SourceColors pixels, const ProfileFileReader& readProfile,
                     const std::function<void(const std::string&)>& log) {
  ColorPlan plan;
  const sheetsmith::ColorTarget target =
      sheetsmith::ResolveColorTarget(sheetsmith::ParseColorSelection(selection), readProfile);
  if (!target.failure.empty()) {
    plan.failure = target.failure;
    return plan;
  }
  plan.colorTarget = target;
  if (!target.convert) {
    plan.sourceName = plan.targetName = "none";
    // The baked file holds the photo's own pixels, so it carries the
    // photo's own RGB profile (and nothing when the photo has none): an
    // Adobe RGB or P3 photo keeps its colours wherever it is shown.
    if (pixels == sheetsmith::SourceColors::kRgb &&
        embedded.state == EmbeddedProfile::State::kFound) {
      std::string ignored;
      std::optional<IccProfile> own = ParseIccProfile(embedded.bytes, &ignored);
      if (own && own->colorSpace == sheetsmith::IccSignature("RGB ")) {
        plan.target = std::move(own->bytes);
        plan.embedTarget = true;
      }
    }
    return plan;
  }
  plan.target = target.profile;
  plan.targetName = target.name;

  // Grey and CMYK pixels go to the target by their own profile as they are
  // read, as on the composer's page; the canvas then holds the target's
  // colours already.
  if (pixels != sheetsmith::SourceColors::kRgb) {
    sheetsmith::ConversionCache conversions(target.profile, sheetsmith::PixelLayout::kRgba);
    sheetsmith::SourcePlan photo =
        sheetsmith::PlanSourceColors(embedded, pixels, true, target, conversions);
    if (photo.tagged && photo.conversion) {
      std::string ignored;
      const std::optional<IccProfile> source = ParseIccProfile(embedded.bytes, &ignored);
      plan.sourceName = (!source || source->description.empty() ? "unnamed" : source->description) +
                        " (embedded)";
      plan.source = plan.target;
      plan.photo = std::move(photo);
      plan.embedTarget = true;
      return plan;
    }
  }

  // The rest are drawn as RGB, whatever the photo holds: only an RGB
  // profile describes the canvas.
  std::string problem;
  std::optional<IccProfile> source;
  if (embedded.state == EmbeddedProfile::State::kDamaged) {
    problem = embedded.problem;
  } else if (embedded.state == EmbeddedProfile::State::kFound) {
    source = ParseIccProfile(embedded.bytes, &problem);
    if (source && source->colorSpace != sheetsmith::IccSignature("RGB ")) {
      problem = "it describes " + sheetsmith::SignatureText(source->colorSpace) +
                " colors, not the photo's RGB";
      source.reset();
    }
  }
  if (!problem.empty()) {
    log("INFO: The photo's embedded color profile cannot be used (" + problem +
        "); its colors are taken as sRGB");
  }
  if (source) {
    plan.source = source->bytes;
    plan.sourceName =
        (source->description.empty() ? "unnamed" : source->description) + " (embedded)";
  } else {
    plan.source = HostSrgbProfile();
    plan.sourceName = "sRGB (no profile embedded)";
    // An sRGB photo baked for sRGB stays exactly as it is.
    if (target.isSrgb) return plan;
  }
  plan.embedTarget = true;
  plan.convert = plan.source != plan.target;
  return plan;
}

}  // namespace runner
