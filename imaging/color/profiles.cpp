// Profiles inspected through Little CMS, and the sRGB and Adobe RGB
// profiles made with it.
#include "imaging/color/profiles.h"

#include <algorithm>
#include <utility>

#include "imaging/color/lcms_profile.h"
#include "imaging/color/profile_check.h"
#include "imaging/system/byte_order.h"

namespace sheetsmith {
namespace {

cmsCIExyY D65() { return cmsCIExyY{0.3127, 0.3290, 1.0}; }

}  // namespace

std::string SaveProfile(cmsHPROFILE profile, const char* description) {
  cmsMLU* text = cmsMLUalloc(nullptr, 1);
  cmsMLUsetASCII(text, "en", "US", description);
  cmsWriteTag(profile, cmsSigProfileDescriptionTag, text);
  cmsMLUsetASCII(text, "en", "US", "No copyright, use freely");
  cmsWriteTag(profile, cmsSigCopyrightTag, text);
  cmsMLUfree(text);
  cmsSetDeviceClass(profile, cmsSigDisplayClass);
  cmsUInt32Number size = 0;
  std::string bytes;
  if (cmsSaveProfileToMem(profile, nullptr, &size) && size >= 128) {
    bytes.resize(size);
    if (!cmsSaveProfileToMem(profile, bytes.data(), &size)) bytes.clear();
  }
  cmsCloseProfile(profile);
  if (bytes.size() >= 128) {
    const std::uint16_t date[6] = {2025, 1, 1, 0, 0, 0};
    for (int i = 0; i < 6; ++i) {
      bytes[24 + 2 * i] = static_cast<char>(date[i] >> 8);
      bytes[25 + 2 * i] = static_cast<char>(date[i] & 0xFF);
    }
    // No primary platform (Little CMS names the one it was built for), no
    // profile ID.
    std::fill(bytes.begin() + 40, bytes.begin() + 44, '\0');
    std::fill(bytes.begin() + 84, bytes.begin() + 100, '\0');
  }
  return bytes;
}

std::string SignatureText(std::uint32_t signature) {
  std::string text;
  for (int shift = 24; shift >= 0; shift -= 8) {
    const char c = static_cast<char>((signature >> shift) & 0xFF);
    text += (c >= 0x20 && c < 0x7F) ? c : '?';
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

std::optional<ProfileInfo> InspectProfile(std::string_view bytes, std::string* problem) {
  const auto refuse = [problem](std::string why) -> std::optional<ProfileInfo> {
    if (problem) *problem = std::move(why);
    return std::nullopt;
  };
  // The header's own claims are checked first: Little CMS would take a
  // declared size beyond the bytes as a profile cut short and fail anyway,
  // but says less about why.
  if (bytes.size() > kMaxProfileBytes) return refuse("it is larger than any profile");
  if (bytes.size() < 132) return refuse("it is too short for an ICC profile");
  if (ReadBigEndian32(bytes, 36) != IccSignature("acsp")) return refuse("it is not an ICC profile");
  const std::uint32_t declared = ReadBigEndian32(bytes, 0);
  if (declared < 132) return refuse("its header is damaged");
  if (declared > bytes.size()) return refuse("it is cut short");
  // Tables that would cost Little CMS more than their bytes are refused
  // before it sees them.
  if (std::optional<std::string> unsafe = ReasonProfileTagsUnsafe(bytes.substr(0, declared))) {
    return refuse(std::move(*unsafe));
  }
  const UniqueProfile profile = OpenProfile(bytes.substr(0, declared));
  if (!profile) return refuse("its tags are damaged");
  ProfileInfo info;
  info.size = declared;
  char description[256] = {};
  if (cmsGetProfileInfoASCII(profile.get(), cmsInfoDescription, "en", "US", description,
                             sizeof description) > 0) {
    info.description = description;
  }
  info.deviceClass = static_cast<std::uint32_t>(cmsGetDeviceClass(profile.get()));
  info.colorSpace = static_cast<std::uint32_t>(cmsGetColorSpace(profile.get()));
  return info;
}

std::optional<std::string> ReasonNotATarget(const ProfileInfo& profile) {
  if (profile.colorSpace != IccSignature("RGB ")) {
    return "it holds " + SignatureText(profile.colorSpace) + " colors, not RGB";
  }
  for (const std::uint32_t cannot :
       {IccSignature("abst"), IccSignature("link"), IccSignature("nmcl")}) {
    if (profile.deviceClass == cannot) {
      return "colors cannot be converted to a profile of class " + SignatureText(cannot);
    }
  }
  return std::nullopt;
}

const std::string& SrgbProfile() {
  static const std::string profile = SaveProfile(cmsCreate_sRGBProfile(), kSrgbProfileName);
  return profile;
}

const std::string& AdobeRgbProfile() {
  static const std::string profile = [] {
    const cmsCIExyY white = D65();
    const cmsCIExyYTRIPLE primaries = {{0.64, 0.33, 1.0}, {0.21, 0.71, 1.0}, {0.15, 0.06, 1.0}};
    cmsToneCurve* gamma = cmsBuildGamma(nullptr, 563.0 / 256.0);
    cmsToneCurve* curves[3] = {gamma, gamma, gamma};
    cmsHPROFILE made = cmsCreateRGBProfile(&white, &primaries, curves);
    cmsFreeToneCurve(gamma);
    return SaveProfile(made, kAdobeRgbProfileName);
  }();
  return profile;
}

}  // namespace sheetsmith
