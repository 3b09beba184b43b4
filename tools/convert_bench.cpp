// Prints how long a colour conversion takes a pixel: the quick road with the
// kernel this processor gets and with the portable one, against Little CMS's
// own transform of the same profiles, on one phone photo's worth of RGBA
// pixels: the measurement behind the quick road.
//   convert_bench
#include <lcms2.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "imaging/color/conversion.h"
#include "imaging/color/quick_kernels.h"
#include "test_photos.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kPixels = 4032 * 3024;

// The best of five runs over the pixels, in nanoseconds a pixel.
double NanosecondsAPixel(std::vector<std::uint8_t>& pixels,
                         const std::function<void(std::uint8_t*)>& run) {
  double best = 1e30;
  for (int i = 0; i < 5; ++i) {
    const auto start = Clock::now();
    run(pixels.data());
    const std::chrono::duration<double, std::nano> spent = Clock::now() - start;
    best = std::min(best, spent.count() / kPixels);
  }
  return best;
}

}  // namespace

int main() {
  std::vector<std::uint8_t> pixels(kPixels * 4);
  std::mt19937 random(1);
  for (std::uint8_t& v : pixels) v = static_cast<std::uint8_t>(random());
  const std::string p3 = testsupport::DisplayP3Profile();
  const struct {
    const char* name;
    std::string from, to;
  } pairs[] = {{"Display P3 to sRGB", p3, sheetsmith::SrgbProfile()},
               {"sRGB to Adobe RGB", sheetsmith::SrgbProfile(), sheetsmith::AdobeRgbProfile()}};
  std::printf("%-20s %12s %12s %12s\n", "ns a pixel (RGBA)", "quick", "portable", "Little CMS");
  for (const auto& pair : pairs) {
    const auto conversion =
        sheetsmith::ColorConversion::Make(pair.from, sheetsmith::SourceColors::kRgb, pair.to,
                                          sheetsmith::PixelLayout::kRgba, nullptr);
    if (!conversion || !conversion->quick()) {
      std::fprintf(stderr, "%s: no quick road\n", pair.name);
      return 1;
    }
    const double quick =
        NanosecondsAPixel(pixels, [&](std::uint8_t* at) { conversion->Apply(at, kPixels); });
    // The portable loop over tables of the same size (their numbers do not
    // change its time).
    const auto tables = std::make_unique<sheetsmith::QuickTables>();
    for (auto& curve : tables->in)
      for (std::int32_t& v : curve) v = static_cast<std::int32_t>(random() % 16385);
    for (auto& row : tables->matrix)
      for (std::int32_t& v : row) v = static_cast<std::int32_t>(random() % 16385);
    for (auto& curve : tables->out) std::fill(std::begin(curve), std::end(curve), 7);
    const double portable = NanosecondsAPixel(pixels, [&](std::uint8_t* at) {
      sheetsmith::QuickPortable(*tables, at, kPixels, 4, 0, 2);
    });
    cmsHPROFILE from =
        cmsOpenProfileFromMem(pair.from.data(), static_cast<cmsUInt32Number>(pair.from.size()));
    cmsHPROFILE to =
        cmsOpenProfileFromMem(pair.to.data(), static_cast<cmsUInt32Number>(pair.to.size()));
    cmsHTRANSFORM transform =
        cmsCreateTransform(from, TYPE_RGBA_8, to, TYPE_RGBA_8, INTENT_PERCEPTUAL, cmsFLAGS_NOCACHE);
    const double lcms = NanosecondsAPixel(pixels, [&](std::uint8_t* at) {
      cmsDoTransform(transform, at, at, static_cast<cmsUInt32Number>(kPixels));
    });
    cmsDeleteTransform(transform);
    cmsCloseProfile(from);
    cmsCloseProfile(to);
    std::printf("%-20s %12.2f %12.2f %12.2f\n", pair.name, quick, portable, lcms);
  }
  return 0;
}
