// A Little CMS profile opened from bytes, with its owner: for the colour
// code's own files, which alone see Little CMS.
#pragma once

#include <lcms2.h>

#include <memory>
#include <string>
#include <string_view>

namespace sheetsmith {

// Owns a Little CMS profile.
struct ProfileCloser {
  void operator()(void* profile) const { cmsCloseProfile(profile); }
};
using UniqueProfile = std::unique_ptr<void, ProfileCloser>;

inline UniqueProfile OpenProfile(std::string_view bytes) {
  return UniqueProfile(
      cmsOpenProfileFromMem(bytes.data(), static_cast<cmsUInt32Number>(bytes.size())));
}

// The bytes of a profile the programs make (closing it): a display profile
// with this description, its creation date set to 1 January 2025 and no
// platform or ID, so that the same profile is the same bytes on every run,
// on every platform.
std::string SaveProfile(cmsHPROFILE profile, const char* description);

}  // namespace sheetsmith
