// A Little CMS profile opened from bytes, with its owner: for the colour
// code's own files, which alone see Little CMS.
#pragma once

#include <lcms2.h>

#include <memory>
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

}  // namespace sheetsmith
