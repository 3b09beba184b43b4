// Conversions against Little CMS's own transforms of the same profiles.
#include <gtest/gtest.h>
#include <lcms2.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "imaging/color/conversion.h"
#include "imaging/color/quick_kernels.h"
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
  // A display whose black is 1 % of its white, as measured displays are.
  std::vector<cmsUInt16Number> lifted(256);
  for (std::size_t i = 0; i < lifted.size(); ++i) {
    const double v = static_cast<double>(i) / 255;
    lifted[i] = static_cast<cmsUInt16Number>(std::lround((0.01 + 0.99 * std::pow(v, 2.2)) * 65535));
  }
  cmsToneCurve* liftedCurve = cmsBuildTabulatedToneCurve16(nullptr, 256, lifted.data());
  const cmsCIExyYTRIPLE srgbPrimaries = {{0.64, 0.33, 1.0}, {0.30, 0.60, 1.0}, {0.15, 0.06, 1.0}};
  cmsToneCurve* liftedCurves[3] = {liftedCurve, liftedCurve, liftedCurve};
  const std::string blackOffset =
      testsupport::ProfileBytes(cmsCreateRGBProfile(&white, &srgbPrimaries, liftedCurves));
  cmsFreeToneCurve(liftedCurve);
  // A matrix profile that also has a float table, which Little CMS takes
  // first.
  const std::string p3 = testsupport::DisplayP3Profile();
  const std::string withD2B0 = testsupport::WithIccTag(
      p3, "D2B0", testsupport::ProcessElementsTag({{0, 60}}, testsupport::MatrixElement()));
  const struct {
    const char* name;
    std::string from, to;
    bool quick;
  } pairs[] = {{"P3 to sRGB", p3, SrgbProfile(), true},
               {"Adobe RGB to sRGB", AdobeRgbProfile(), SrgbProfile(), true},
               {"sRGB to Adobe RGB", SrgbProfile(), AdobeRgbProfile(), true},
               {"L* wide to sRGB", lstar, SrgbProfile(), true},
               {"sRGB to L* wide", SrgbProfile(), lstar, true},
               {"1 % black to sRGB", blackOffset, SrgbProfile(), false},
               {"1 % black to Adobe RGB", blackOffset, AdobeRgbProfile(), false},
               {"sRGB to 1 % black", SrgbProfile(), blackOffset, false},
               {"P3 with D2B0 to sRGB", withD2B0, SrgbProfile(), false}};
  // Every colour for the quick road; every fifth level of each channel for
  // the pairs left to Little CMS, which only have to reach it.
  std::vector<std::uint8_t> every, sample;
  for (int r = 0; r < 256; ++r)
    for (int g = 0; g < 256; ++g)
      for (int b = 0; b < 256; ++b) {
        every.insert(every.end(), {std::uint8_t(r), std::uint8_t(g), std::uint8_t(b)});
        if (r % 5 == 0 && g % 5 == 0 && b % 5 == 0)
          sample.insert(sample.end(), {std::uint8_t(r), std::uint8_t(g), std::uint8_t(b)});
      }
  for (const auto& pair : pairs) {
    const std::vector<std::uint8_t>& rgb = pair.quick ? every : sample;
    const std::size_t count = rgb.size() / 3;
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
      EXPECT_EQ(conversion->quick(), pair.quick) << pair.name;
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
      EXPECT_EQ(farthest, 0) << pair.name << (bgra ? ", BGRA" : ", RGBA");
      EXPECT_TRUE(alphaKept) << pair.name;
    }
  }
}

// A photo already in the target's profile keeps every level, on the quick
// road's profiles and on Little CMS's alike.
TEST(ColorConversionTest, AProfileToItselfChangesNothing) {
  const std::string withD2B0 = testsupport::WithIccTag(
      SrgbProfile(), "D2B0",
      testsupport::ProcessElementsTag({{0, 60}}, testsupport::MatrixElement()));
  for (const std::string& profile :
       {AdobeRgbProfile(), testsupport::DisplayP3Profile(), withD2B0}) {
    const auto conversion =
        ColorConversion::Make(profile, SourceColors::kRgb, profile, PixelLayout::kRgba, nullptr);
    ASSERT_TRUE(conversion);
    EXPECT_TRUE(conversion->identity());
    std::vector<std::uint8_t> pixels;
    for (int v = 0; v < 256; ++v) pixels.insert(pixels.end(), {std::uint8_t(v), 1, 2, 255});
    const std::vector<std::uint8_t> before = pixels;
    conversion->Apply(pixels.data(), pixels.size() / 4);
    EXPECT_EQ(pixels, before);
  }
}

// The vector kernel makes the portable one's bytes on any tables, including
// sums past both ends, for either layout and for counts that leave a tail.
TEST(ColorConversionTest, TheKernelsAgree) {
  const QuickKernel avx2 = QuickAvx2();
  if (!avx2) GTEST_SKIP() << "no AVX2 here";
  std::mt19937 random(7);
  const auto tables = std::make_unique<QuickTables>();
  for (auto& curve : tables->in)
    for (std::int32_t& v : curve)
      v = static_cast<std::int32_t>(random() % (QuickTables::kSteps + 1));
  for (auto& row : tables->matrix)
    for (std::int32_t& v : row) v = static_cast<std::int32_t>(random() % 65537) - 32768;
  for (auto& curve : tables->out)
    for (std::uint8_t& v : curve) v = static_cast<std::uint8_t>(random());
  std::vector<std::uint8_t> pixels(4 * 1003);
  for (std::uint8_t& v : pixels) v = static_cast<std::uint8_t>(random());
  for (const int red : {0, 2}) {
    for (const std::size_t count :
         {std::size_t{1}, std::size_t{7}, std::size_t{8}, std::size_t{1003}}) {
      std::vector<std::uint8_t> portable(pixels.begin(), pixels.begin() + 4 * count);
      std::vector<std::uint8_t> vector = portable;
      QuickPortable(*tables, portable.data(), count, 4, red, 2 - red);
      avx2(*tables, vector.data(), count, 4, red, 2 - red);
      EXPECT_EQ(vector, portable) << "red at " << red << ", " << count << " pixels";
    }
  }
}

}  // namespace
}  // namespace sheetsmith
