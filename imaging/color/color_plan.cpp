// The target resolved from the user's choice, each source's plan, and the
// run's cache of conversions.
#include "imaging/color/color_plan.h"

namespace sheetsmith {

ColorSelection ParseColorSelection(const std::string& stored) {
  static const std::string kCustom = "custom:";
  ColorSelection selection;
  if (stored == "adobe_rgb") {
    selection.kind = ColorSelection::Kind::kAdobeRgb;
  } else if (stored == "no_conversion") {
    selection.kind = ColorSelection::Kind::kNone;
  } else if (stored.compare(0, kCustom.size(), kCustom) == 0) {
    selection.kind = ColorSelection::Kind::kCustom;
    selection.customPath = stored.substr(kCustom.size());
  }
  return selection;
}

ColorTarget ResolveColorTarget(const ColorSelection& selection, const ProfileFileReader& read) {
  ColorTarget target;
  switch (selection.kind) {
    case ColorSelection::Kind::kNone:
      target.name = "none";
      return target;
    case ColorSelection::Kind::kSrgb:
    case ColorSelection::Kind::kAdobeRgb: {
      const bool adobe = selection.kind == ColorSelection::Kind::kAdobeRgb;
      target.convert = true;
      target.isSrgb = !adobe;
      target.profile = adobe ? AdobeRgbProfile() : SrgbProfile();
      target.name = adobe ? kAdobeRgbProfileName : kSrgbProfileName;
      return target;
    }
    case ColorSelection::Kind::kCustom:
      break;
  }
  const std::string& path = selection.customPath;
  const auto fail = [&](const std::string& why) {
    target.failure = "Color profile " + path + " cannot be used: " + why;
    return target;
  };
  std::optional<std::string> bytes = read ? read(path) : std::nullopt;
  if (!bytes) return fail("the file cannot be read");
  std::string problem;
  const std::optional<ProfileInfo> info = InspectProfile(*bytes, &problem);
  if (!info) return fail(problem);
  if (const std::optional<std::string> reason = ReasonNotATarget(*info)) return fail(*reason);
  // Pages and baked files carry their target; one they cannot carry would
  // leave them converted but untagged.
  if (info->size > kMaxCarriedProfileBytes) {
    return fail("it is larger than a JPEG file can carry (255 chunks of " +
                std::to_string(kMaxIccChunkData) + " bytes)");
  }
  // One that Little CMS opens but cannot convert to fails here too, before
  // any photo is converted.
  std::string joined;
  if (!ColorConversion::Make(SrgbProfile(), SourceColors::kRgb, *bytes, PixelLayout::kRgba,
                             &joined)) {
    return fail(joined);
  }
  target.convert = true;
  target.profile = bytes->substr(0, info->size);
  target.name = info->description.empty() ? path : info->description;
  return target;
}

SourcePlan PlanSourceColors(const EmbeddedProfile& embedded, SourceColors pixels,
                            bool inksAvailable, const ColorTarget& target,
                            ConversionCache& conversions) {
  SourcePlan plan;
  if (!target.convert) return plan;
  if (embedded.state == EmbeddedProfile::State::kDamaged) {
    plan.problem = embedded.problem;
  } else if (embedded.state == EmbeddedProfile::State::kFound) {
    if (const std::optional<ProfileInfo> info = InspectProfile(embedded.bytes, &plan.problem)) {
      const std::optional<SourceColors> described = SourceColorsOf(*info);
      // Grey pixels are RGB ones too; inks are only ever inks, and only
      // where the decoder gives them.
      bool fits = false;
      if (described == SourceColors::kCmyk) {
        fits = pixels == SourceColors::kCmyk && inksAvailable;
      } else if (described == SourceColors::kGray) {
        fits = pixels == SourceColors::kGray;
      } else if (described == SourceColors::kRgb) {
        fits = pixels != SourceColors::kCmyk;
      }
      if (!fits) {
        plan.problem =
            "it describes " + SignatureText(info->colorSpace) + " colors, not the file's";
      } else if ((plan.conversion = conversions.Get(embedded.bytes, *described, &plan.problem))) {
        plan.tagged = true;
        plan.keepInks = *described == SourceColors::kCmyk;
        return plan;
      }
    }
  }
  if (target.isSrgb) return plan;
  std::string ignored;
  plan.conversion = conversions.Get(SrgbProfile(), SourceColors::kRgb, &ignored);
  return plan;
}

Rgb ChosenColorInTarget(Rgb srgb, const ColorTarget& target, ConversionCache& conversions) {
  if (!target.convert || target.isSrgb) return srgb;
  std::string ignored;
  const std::shared_ptr<const ColorConversion> conversion =
      conversions.Get(SrgbProfile(), SourceColors::kRgb, &ignored);
  if (!conversion) return srgb;
  std::uint8_t pixel[4] = {srgb.r, srgb.g, srgb.b, 255};
  conversion->Apply(pixel, 1);
  return {pixel[0], pixel[1], pixel[2]};
}

std::shared_ptr<const ColorConversion> ConversionCache::Get(const std::string& source,
                                                            SourceColors colors,
                                                            std::string* problem) {
  std::shared_ptr<Made> made;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    std::shared_ptr<Made>& entry = made_[std::make_pair(source, colors)];
    if (!entry) entry = std::make_shared<Made>();
    made = entry;
  }
  std::call_once(made->once, [&] {
    made->conversion = ColorConversion::Make(source, colors, target_, layout_, &made->problem);
  });
  if (problem) *problem = made->problem;
  return made->conversion;
}

}  // namespace sheetsmith
