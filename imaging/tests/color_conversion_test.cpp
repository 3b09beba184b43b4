// Conversions against Little CMS's own transforms of the same profiles.
#include <gtest/gtest.h>
#include <lcms2.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "imaging/color/conversion.h"
#include "test_photos.h"

namespace sheetsmith {
namespace {

TEST(ColorConversionTest, TheQuickRoadMakesWhatLittleCmsMakes) {
  std::vector<cmsUInt16Number> table(1024);
  for (std::size_t i = 0; i < table.size(); ++i) {  // an L*-like curve, as a table
    const double v = static_cast<double>(i) / (table.size() - 1);
    const double linear = v > 0.08 ? std::pow((v + 0.16) / 1.16, 3) : v / 9.033;
    table[i] = static_cast<cmsUInt16Number>(std::lround(linear * 65535));
  }
  cmsToneCurve* tabulated = cmsBuildTabulatedToneCurve16(
      nullptr, static_cast<cmsUInt32Number>(table.size()), table.data());
  const cmsCIExyY white = {0.3127, 0.3290, 1.0};  // D65
  const cmsCIExyYTRIPLE wide = {{0.70, 0.29, 1.0}, {0.17, 0.79, 1.0}, {0.13, 0.04, 1.0}};
  cmsToneCurve* curves[3] = {tabulated, tabulated, tabulated};
  const std::string lstar = testsupport::ProfileBytes(cmsCreateRGBProfile(&white, &wide, curves));
  cmsFreeToneCurve(tabulated);
  const std::string p3 = testsupport::DisplayP3Profile();
  const struct {
    const char* name;
    std::string from, to;
  } pairs[] = {{"P3 to sRGB", p3, SrgbProfile()},
               {"Adobe RGB to sRGB", AdobeRgbProfile(), SrgbProfile()},
               {"sRGB to Adobe RGB", SrgbProfile(), AdobeRgbProfile()},
               {"L* wide to sRGB", lstar, SrgbProfile()},
               {"sRGB to L* wide", SrgbProfile(), lstar}};
  std::vector<std::uint8_t> rgb;
  for (int r = 0; r < 256; r += 5)
    for (int g = 0; g < 256; g += 5)
      for (int b = 0; b < 256; b += 5)
        rgb.insert(rgb.end(), {std::uint8_t(r), std::uint8_t(g), std::uint8_t(b)});
  const std::size_t count = rgb.size() / 3;
  for (const auto& pair : pairs) {
    cmsHPROFILE from =
        cmsOpenProfileFromMem(pair.from.data(), static_cast<cmsUInt32Number>(pair.from.size()));
    cmsHPROFILE to =
        cmsOpenProfileFromMem(pair.to.data(), static_cast<cmsUInt32Number>(pair.to.size()));
    cmsHTRANSFORM reference =
        cmsCreateTransform(from, TYPE_RGB_8, to, TYPE_RGB_8, INTENT_PERCEPTUAL, 0);
    std::vector<std::uint8_t> expected(rgb.size());
    cmsDoTransform(reference, rgb.data(), expected.data(), static_cast<cmsUInt32Number>(count));
    cmsDeleteTransform(reference);
    cmsCloseProfile(from);
    cmsCloseProfile(to);
    for (const PixelLayout layout : {PixelLayout::kRgba, PixelLayout::kBgra}) {
      const bool bgra = layout == PixelLayout::kBgra;
      const auto conversion =
          ColorConversion::Make(pair.from, SourceColors::kRgb, pair.to, layout, nullptr);
      ASSERT_TRUE(conversion) << pair.name;
      EXPECT_TRUE(conversion->quick()) << pair.name;
      std::vector<std::uint8_t> pixels(count * 4);
      for (std::size_t i = 0; i < count; ++i) {
        pixels[i * 4 + (bgra ? 2 : 0)] = rgb[i * 3];
        pixels[i * 4 + 1] = rgb[i * 3 + 1];
        pixels[i * 4 + (bgra ? 0 : 2)] = rgb[i * 3 + 2];
        pixels[i * 4 + 3] = static_cast<std::uint8_t>(i);
      }
      conversion->Apply(pixels.data(), count);
      int farthest = 0;
      bool alphaKept = true;
      for (std::size_t i = 0; i < count; ++i) {
        const int got[3] = {pixels[i * 4 + (bgra ? 2 : 0)], pixels[i * 4 + 1],
                            pixels[i * 4 + (bgra ? 0 : 2)]};
        for (int c = 0; c < 3; ++c)
          farthest = std::max(farthest, std::abs(got[c] - expected[i * 3 + c]));
        alphaKept = alphaKept && pixels[i * 4 + 3] == static_cast<std::uint8_t>(i);
      }
      EXPECT_LE(farthest, 1) << pair.name << (bgra ? ", BGRA" : ", RGBA");
      EXPECT_TRUE(alphaKept) << pair.name;
    }
  }
}

}  // namespace
}  // namespace sheetsmith
