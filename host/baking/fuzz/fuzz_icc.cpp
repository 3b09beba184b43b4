// Feeds arbitrary bytes to the reading of a photo's embedded colour profile
// (JPEG chunks, PNG iCCP) and to the profile reader, and joins what reads as
// a profile to sRGB, as baking and the composers do.
#include <cstddef>
#include <cstdint>
#include <string>

#include "icc_profiles.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const runner::EmbeddedProfile embedded = runner::FindEmbeddedProfile(bytes);
  std::string problem;
  runner::ParseIccProfile(embedded.bytes, &problem);
  for (const std::string* candidate : {&embedded.bytes, &bytes}) {
    if (const auto profile = runner::ParseIccProfile(*candidate, &problem)) {
      runner::ReasonNotATarget(*profile);
      if (const auto colors =
              sheetsmith::SourceColorsOf({profile->bytes.size(), profile->description,
                                          profile->deviceClass, profile->colorSpace})) {
        if (const auto conversion = sheetsmith::ColorConversion::Make(
                profile->bytes, *colors, runner::HostSrgbProfile(), sheetsmith::PixelLayout::kRgba,
                &problem)) {
          std::uint8_t pixels[4 * 4] = {0, 1, 2, 3, 255, 128, 7, 9, 40, 200, 90, 255, 1, 1, 1, 1};
          conversion->Apply(pixels, 4);
        }
      }
    }
  }
  return 0;
}
