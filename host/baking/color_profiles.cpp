// The colour profile methods of the printing channel over a profile store.
#include "color_profiles.h"

#include <exception>

#include "arguments.h"
#include "logging.h"

namespace runner {

namespace {

// Display texts, UTF-8, as hexadecimal escapes so that every compiler reads
// them the same way whatever it takes the source file's encoding to be.
constexpr const char kSrgbName[] =
    "sRGB (\xD7\x9E\xD7\x95\xD7\x9E\xD7\x9C\xD7\xA5 "
    "\xD7\x9C\xD7\x9E\xD7\xA8\xD7\x91\xD7\x99\xD7\xAA "
    "\xD7\x94\xD7\x9E\xD7\x93\xD7\xA4\xD7\xA1\xD7\x95\xD7\xAA)";  // sRGB (recommended for most
                                                                  // printers)
constexpr const char kNoConversionName[] =
    "\xD7\x9C\xD7\x9C\xD7\x90 \xD7\x94\xD7\x9E\xD7\xA8\xD7\x94 "
    "(\xD7\xA6\xD7\x91\xD7\xA2\xD7\x99\xD7\x9D "
    "\xD7\x9E\xD7\xA7\xD7\x95\xD7\xA8\xD7\x99\xD7\x99\xD7\x9D)";  // no conversion (original
                                                                  // colours)
constexpr const char kCustomName[] =
    "\xD7\xA4\xD7\xA8\xD7\x95\xD7\xA4\xD7\x99\xD7\x9C \xD7\x9E\xD7\x95\xD7\xAA\xD7\x90\xD7\x9D "
    "(ICC/ICM)";  // custom profile (ICC/ICM)
constexpr const char kCustomWithoutPath[] =
    "\xD7\xA4\xD7\xA8\xD7\x95\xD7\xA4\xD7\x99\xD7\x9C "
    "\xD7\x9E\xD7\x95\xD7\xAA\xD7\x90\xD7\x9D";  // custom profile
constexpr const char kCustomPrefix[] = "\xD7\x9E\xD7\x95\xD7\xAA\xD7\x90\xD7\x9D: ";  // "custom: "
constexpr const char kUnknownName[] =
    "sRGB (\xD7\x91\xD7\xA8\xD7\x99\xD7\xA8\xD7\xAA \xD7\x9E\xD7\x97\xD7\x93\xD7\x9C)";  // sRGB
                                                                                         // (default)

}  // namespace

const std::vector<ColorProfileInfo>& ColorProfiles() {
  static const std::vector<ColorProfileInfo> profiles = {
      {"srgb", kSrgbName, true},
      {"adobe_rgb", "Adobe RGB (1998)", true},
      {"no_conversion", kNoConversionName, true},
      {"custom", kCustomName, true},
  };
  return profiles;
}

std::string ColorProfileDisplayName(const std::string& id) {
  static const std::string kCustom = "custom:";
  if (id.size() >= kCustom.size() && id.compare(0, kCustom.size(), kCustom) == 0) {
    const std::string path = id.substr(kCustom.size());
    const std::size_t separator = path.find_last_of("\\/");
    if (separator == std::string::npos) return kCustomWithoutPath;
    return kCustomPrefix + path.substr(separator + 1);
  }
  for (const ColorProfileInfo& profile : ColorProfiles()) {
    if (profile.id == id) return profile.displayName;
  }
  return kUnknownName;
}

void ApplyColorProfile(bool haveBitmap, const std::string& id) {
  if (!haveBitmap) return;
  LogOutput("INFO: Color profile selected: " + ColorProfileDisplayName(id));
  LogOutput("INFO: Color profile management requires WIC implementation");
}

void HandleGetColorProfiles(const MethodCall&, std::unique_ptr<MethodResult> result) {
  try {
    EncodableList list;
    for (const ColorProfileInfo& profile : ColorProfiles()) {
      list.push_back(EncodableValue(EncodableMap{
          {EncodableValue("id"), EncodableValue(profile.id)},
          {EncodableValue("displayName"), EncodableValue(profile.displayName)},
          {EncodableValue("isBuiltIn"), EncodableValue(profile.isBuiltIn)},
      }));
    }
    result->Success(EncodableValue(std::move(list)));
  } catch (const std::exception& error) {
    result->Error("GET_PROFILES_ERROR", error.what());
  }
}

void HandleGetSelectedColorProfile(const MethodCall&, std::unique_ptr<MethodResult> result) {
  try {
    result->Success(EncodableValue(ReadSelectedColorProfile()));
  } catch (const std::exception& error) {
    result->Error("GET_SELECTED_PROFILE_ERROR", error.what());
  }
}

void HandleSetSelectedColorProfile(const MethodCall& call, std::unique_ptr<MethodResult> result) {
  const EncodableMap* map = ArgumentsMap(call.arguments());
  if (!map) {
    result->Error("INVALID_ARGUMENTS", "Arguments must be a map");
    return;
  }
  const std::string* id = ReadPlatformText(*map, "profileId");
  if (!id) {
    result->Error("INVALID_ARGUMENTS", "profileId must be a string");
    return;
  }
  try {
    if (SaveSelectedColorProfile(*id)) {
      result->Success(EncodableValue(true));
    } else {
      result->Error("SET_PROFILE_ERROR", "Failed to set color profile");
    }
  } catch (const std::exception& error) {
    result->Error("SET_PROFILE_ERROR", error.what());
  }
}

}  // namespace runner
