#include "imaging/color/profile_check.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <lcms2.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "imaging/color/profiles.h"
#include "test_photos.h"

namespace sheetsmith {
namespace {

using ::testing::HasSubstr;

using testsupport::BigEndian16;
using testsupport::BigEndian32;
using testsupport::MatrixElement;
using testsupport::ProcessElementsTag;
using testsupport::WithIccTag;

// Tables that claim far more than their bytes hold, which Little CMS would
// size (and clear) or walk before it found them missing, are refused with
// the tag named; the same shapes backed by their bytes are not.
TEST(ProfileCheckTest, TablesBeyondTheirBytesAreRefusedAndTheTagNamed) {
  const std::string srgb = SrgbProfile();
  const std::string matrix = MatrixElement();  // 60 bytes
  const std::vector<std::pair<std::size_t, std::size_t>> sameElement(100000, {0, 60});
  const std::string lut16Inflated = "mft2" + std::string(4, '\0') + "\x03\x0F\xFF" +
                                    std::string(1, '\0') + std::string(36, '\0') + BigEndian16(2) +
                                    BigEndian16(2) + std::string(6000, '\0');
  const std::string clutAB = [] {
    std::string tag = "mAB " + std::string(4, '\0') + "\x03\x03" + std::string(2, '\0') +
                      BigEndian32(0) + BigEndian32(0) + BigEndian32(0) + BigEndian32(32) + BigEndian32(0);
    tag += std::string(3, '\xFF') + std::string(13, '\0') + "\x02" + std::string(3, '\0');
    return tag + std::string(100, '\0');
  }();
  const struct {
    const char* name;
    std::string profile;
    const char* reason;  // empty: accepted
  } cases[] = {
      {"sRGB as made", srgb, ""},
      {"one element", WithIccTag(srgb, "D2B0", ProcessElementsTag({{0, 60}}, matrix)), ""},
      {"two elements", WithIccTag(srgb, "D2B0", ProcessElementsTag({{0, 60}, {60, 60}}, matrix + matrix)),
       ""},
      {"100000 entries of one element", WithIccTag(srgb, "D2B0", ProcessElementsTag(sameElement, matrix)),
       "its D2B0 tag has 100000 process elements"},
      {"two entries of one element",
       WithIccTag(srgb, "D2B0", ProcessElementsTag({{0, 60}, {0, 60}}, matrix)),
       "its D2B0 tag has elements that share their bytes"},
      {"an element past the tag", WithIccTag(srgb, "D2B0", ProcessElementsTag({{0, 600}}, matrix)),
       "its D2B0 tag has an element outside it"},
      {"a float table of 255^3 points in 40 bytes",
       WithIccTag(srgb, "D2B0",
               ProcessElementsTag({{0, 40}}, "clut" + std::string(4, '\0') + BigEndian16(3) + BigEndian16(3) +
                                               std::string(3, '\xFF') + std::string(25, '\0'))),
       "its D2B0 tag has a colour table that declares more entries than it holds"},
      {"lut16 3 -> 15 on 255 points in 6 KB", WithIccTag(srgb, "A2B0", lut16Inflated),
       "its A2B0 tag has a colour table that declares more entries than it holds"},
      {"lut16 of 16 outputs", WithIccTag(srgb, "A2B0", "mft2" + std::string(4, '\0') + "\x03\x10\x02"),
       "its A2B0 tag has 3 inputs and 16 outputs"},
      {"lutAtoB table of 255^3 points in 100 bytes", WithIccTag(srgb, "A2B0", clutAB),
       "its A2B0 tag has a colour table that declares more entries than it holds"},
      {"a curve of 2^31 entries in 16 bytes",
       WithIccTag(srgb, "kTRC", "curv" + std::string(4, '\0') + BigEndian32(0x80000000u) + BigEndian32(0)),
       "its kTRC tag has a curve that declares more entries than it holds"},
  };
  for (const auto& c : cases) {
    const std::optional<std::string> reason = ReasonProfileTagsUnsafe(c.profile);
    EXPECT_EQ(reason.value_or(""), c.reason) << c.name;
    // The gate every profile passes names it as a photo's log line does.
    std::string problem;
    EXPECT_EQ(InspectProfile(c.profile, &problem).has_value(), *c.reason == '\0') << c.name;
    EXPECT_EQ(problem, c.reason) << c.name;
  }
}

// Profiles that Little CMS writes with every table type, and the profiles
// of the free profile package, are all accepted: the checks refuse only
// what their bytes cannot hold.
TEST(ProfileCheckTest, ProfilesAsTheirMakersWriteThemAreAccepted) {
  std::vector<std::pair<std::string, std::string>> profiles;
  const auto save = [&](const char* name, cmsHPROFILE made) {
    const std::string bytes = testsupport::ProfileBytes(made);
    ASSERT_FALSE(bytes.empty()) << name;
    profiles.emplace_back(name, bytes);
  };
  save("Lab v4 (mAB/mBA)", cmsCreateLab4Profile(nullptr));
  save("Lab v2 (lut16)", cmsCreateLab2Profile(nullptr));
  {
    // A float pipeline in D2B0 (curves, matrix, table) and B2D0.
    cmsHPROFILE made = cmsCreate_sRGBProfile();
    cmsPipeline* pipeline = cmsPipelineAlloc(nullptr, 3, 3);
    // One segment, (X)^2.2 (a 'parf' of function 0), as 'cvst' stores it.
    cmsCurveSegment segment = {};
    segment.x0 = -1e22f;
    segment.x1 = 1e22f;
    segment.Type = 6;
    segment.Params[0] = 2.2;
    segment.Params[1] = 1;
    cmsToneCurve* gamma = cmsBuildSegmentedToneCurve(nullptr, 1, &segment);
    cmsToneCurve* curves[3] = {gamma, gamma, gamma};
    const double identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    std::vector<cmsFloat32Number> table(9 * 9 * 9 * 3, 0.5f);
    cmsPipelineInsertStage(pipeline, cmsAT_END, cmsStageAllocToneCurves(nullptr, 3, curves));
    cmsPipelineInsertStage(pipeline, cmsAT_END, cmsStageAllocMatrix(nullptr, 3, 3, identity, nullptr));
    cmsPipelineInsertStage(pipeline, cmsAT_END,
                           cmsStageAllocCLutFloat(nullptr, 9, 3, 3, table.data()));
    cmsWriteTag(made, cmsSigDToB0Tag, pipeline);
    cmsWriteTag(made, cmsSigBToD0Tag, pipeline);
    cmsPipelineFree(pipeline);
    cmsFreeToneCurve(gamma);
    save("sRGB with D2B0 and B2D0 (mpet)", made);
  }
#if !defined(_WIN32)
  for (const char* folder : {"/usr/share/color/icc", "/usr/share/color/icc/ghostscript"}) {
    if (!std::filesystem::is_directory(folder)) continue;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
      const std::string extension = entry.path().extension().string();
      if (extension != ".icc" && extension != ".ICM") continue;
      std::ifstream file(entry.path(), std::ios::binary);
      profiles.emplace_back(entry.path().string(),
                            std::string(std::istreambuf_iterator<char>(file), {}));
    }
  }
#endif
  ASSERT_GE(profiles.size(), 3u);
  for (const auto& [name, bytes] : profiles) {
    EXPECT_EQ(ReasonProfileTagsUnsafe(bytes).value_or(""), "") << name;
  }
}

}  // namespace
}  // namespace sheetsmith
