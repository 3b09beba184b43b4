// Colours through Korvela.exe under Wine: baked photos held to Little CMS's
// own conversion of the same pixels, and one photo on every road.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <lcms2.h>

#include <algorithm>
#include <array>
#include <filesystem>

#include "host_driver.h"
#include "icc_profiles.h"
#include "imaging/reading/photo_reader.h"
#include "test_photos.h"

namespace e2e {
namespace {

using runner::EncodableList;
using runner::EncodableMap;
using sheetsmith::RgbaImage;
using ::testing::HasSubstr;
namespace fs = std::filesystem;

const std::string kFreeProfiles = "/usr/share/color/icc/";

// Six flat patches of 80 x 80 pixels, three across and two down.
const std::uint8_t kPatches[6][3] = {{200, 40, 40},  {40, 180, 60},   {50, 60, 200},
                                     {230, 220, 90}, {128, 128, 128}, {30, 200, 210}};
RgbaImage Patches() {
  RgbaImage image = testsupport::Solid(240, 160, {0, 0, 0});
  for (int y = 0; y < 160; ++y) {
    for (int x = 0; x < 240; ++x) {
      const std::uint8_t* colour = kPatches[(y / 80) * 3 + x / 80];
      std::copy_n(colour, 3, image.At(x, y));
    }
  }
  return image;
}

// The patches' middles of an image of the patches' size.
std::vector<std::array<int, 3>> PatchColours(const std::string& path) {
  std::vector<std::array<int, 3>> colours;
  const auto image = sheetsmith::LoadRgba(path);
  if (!image || image->width != 240 || image->height != 160) return colours;
  for (int i = 0; i < 6; ++i) {
    const std::uint8_t* p = image->At((i % 3) * 80 + 40, (i / 3) * 80 + 40);
    colours.push_back({p[0], p[1], p[2]});
  }
  return colours;
}

// Colours through Little CMS from one profile to another, perceptual; the
// patches' own unless others are given.
std::vector<std::array<int, 3>> Reference(const std::string& from, const std::string& to,
                                          const std::vector<std::array<int, 3>>& given = {}) {
  cmsHPROFILE source =
      from.empty() ? cmsCreate_sRGBProfile()
                   : cmsOpenProfileFromMem(from.data(), static_cast<cmsUInt32Number>(from.size()));
  cmsHPROFILE target = cmsOpenProfileFromMem(to.data(), static_cast<cmsUInt32Number>(to.size()));
  cmsHTRANSFORM transform =
      cmsCreateTransform(source, TYPE_RGB_8, target, TYPE_RGB_8, INTENT_PERCEPTUAL, 0);
  std::vector<std::array<int, 3>> colours;
  for (std::size_t i = 0; i < 6; ++i) {
    std::uint8_t in[3] = {kPatches[i][0], kPatches[i][1], kPatches[i][2]};
    if (!given.empty()) {
      for (int c = 0; c < 3; ++c) in[c] = static_cast<std::uint8_t>(given[i][c]);
    }
    std::uint8_t out[3];
    cmsDoTransform(transform, in, out, 1);
    colours.push_back({out[0], out[1], out[2]});
  }
  cmsDeleteTransform(transform);
  cmsCloseProfile(source);
  cmsCloseProfile(target);
  return colours;
}

// The largest difference at the patches' middles between a baked photo and
// the colours it should have.
int LargestDifference(const std::string& baked, const std::vector<std::array<int, 3>>& expected) {
  const auto image = sheetsmith::LoadRgba(baked);
  if (!image || image->width != 240 || image->height != 160) return 256;
  int largest = 0;
  for (int i = 0; i < 6; ++i) {
    const std::uint8_t* p = image->At((i % 3) * 80 + 40, (i / 3) * 80 + 40);
    for (int c = 0; c < 3; ++c) largest = std::max(largest, std::abs(p[c] - expected[i][c]));
  }
  return largest;
}

struct Baked {
  std::string path;  // as this machine sees it; empty when it failed
  std::string error;
};

std::vector<Baked> Results(const Answer* answer) {
  std::vector<Baked> results;
  const auto value = answer ? answer->SuccessValue() : std::nullopt;
  if (!value) return results;
  for (const EncodableValue& entry :
       value->Get<EncodableMap>().at(S("results")).Get<EncodableList>()) {
    const auto& map = entry.Get<EncodableMap>();
    if (map.at(S("success")) == EncodableValue(true)) {
      results.push_back({UnixPathOfDriveC(map.at(S("bakedPath")).Get<std::string>()), ""});
    } else {
      results.push_back({"", map.at(S("error")).Get<std::string>()});
    }
  }
  return results;
}

std::string Carried(const std::string& baked) {
  const runner::EmbeddedProfile found = runner::FindEmbeddedProfile(testsupport::ReadBytes(baked));
  return found.state == runner::EmbeddedProfile::State::kFound ? found.bytes : "";
}

TEST(ColorTest, BakedPhotosAreConvertedToTheChosenProfileAsLittleCmsConvertsThem) {
  if (!HostAvailable()) GTEST_SKIP() << "KORVELA_WINDOWS_BIN and KORVELA_WINE_RUN are not set";
  testsupport::TempDir dir("korvela colour");
  const std::string adobe =
      testsupport::ReadBytes(kFreeProfiles + "compatibleWithAdobeRGB1998.icc");
  const std::string lstar = testsupport::ReadBytes(kFreeProfiles + "LStar-RGB.icc");
  ASSERT_FALSE(adobe.empty() || lstar.empty()) << "icc-profiles-free is missing";
  // The same pixels untagged, and tagged as Adobe RGB in a PNG and a JPEG.
  const std::string untagged = dir.File("untagged.png");
  const std::string adobePng = dir.File("adobe.png");
  const std::string adobeJpeg = dir.File("adobe.jpg");
  const std::string custom = dir.File("printer lstar.icc");
  const std::string missing = dir.File("missing.icc");
  ASSERT_TRUE(testsupport::WritePng(untagged, Patches()));
  ASSERT_TRUE(testsupport::WriteBytes(
      adobePng, testsupport::WithIccpChunk(testsupport::ReadBytes(untagged), adobe)));
  ASSERT_TRUE(testsupport::WriteBytes(
      adobeJpeg, testsupport::InsertAfterSoi(testsupport::EncodeJpeg(Patches(), 100),
                                             testsupport::IccChunkSegment(adobe, 1, 1))));
  ASSERT_TRUE(testsupport::WriteBytes(custom, lstar));

  // Each selection and the photos baked with it.
  const std::vector<std::pair<std::string, std::vector<std::string>>> runs = {
      {"srgb", {untagged, adobePng, adobeJpeg}},
      {"adobe_rgb", {untagged}},
      {"custom:" + WindowsPath(custom), {untagged}},
      {"no_conversion", {untagged, adobePng}},
      {"custom:" + WindowsPath(missing), {untagged, adobePng}},
  };
  HostScript script;
  for (const auto& [selection, photos] : runs) {
    script.Call("printing_channel", "setSelectedColorProfile",
                EncodableValue(EncodableMap{{S("profileId"), S(selection)}}));
    EncodableList requests;
    for (const std::string& photo : photos) {
      requests.push_back(EncodableValue(EncodableMap{{S("sourcePath"), S(WindowsPath(photo))},
                                                     {S("canvasWidth"), EncodableValue(240)},
                                                     {S("canvasHeight"), EncodableValue(160)}}));
    }
    script.Call("printing_channel", "bakeImagesForPrinting",
                EncodableValue(EncodableMap{{S("requests"), EncodableValue(requests)},
                                            {S("jpegQuality"), EncodableValue(100)}}));
  }
  // The selection is kept for later runs: leave the default behind.
  script.Call("printing_channel", "setSelectedColorProfile",
              EncodableValue(EncodableMap{{S("profileId"), S("srgb")}}));
  const HostRun run = RunHost(script);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  std::vector<std::vector<Baked>> baked;
  for (std::size_t i = 0; i < runs.size(); ++i) {
    baked.push_back(Results(run.AnswerTo(static_cast<int>(2 * i + 2))));
    ASSERT_EQ(baked.back().size(), runs[i].second.size()) << runs[i].first << run.err;
  }
  const auto& [toSrgb, toAdobe, toCustom, kept, toMissing] =
      std::tie(baked[0], baked[1], baked[2], baked[3], baked[4]);

  // An sRGB photo for sRGB is left as it is and carries nothing; Adobe RGB
  // photos, from PNG and JPEG, come out as Little CMS converts them.
  const std::string srgb = runner::HostSrgbProfile();
  std::vector<std::array<int, 3>> patches;
  for (const auto& patch : kPatches) patches.push_back({patch[0], patch[1], patch[2]});
  EXPECT_LE(LargestDifference(toSrgb[0].path, patches), 1);  // the encoder's rounding
  EXPECT_EQ(Carried(toSrgb[0].path), "");
  for (const Baked& photo : {toSrgb[1], toSrgb[2]}) {
    EXPECT_LE(LargestDifference(photo.path, Reference(adobe, srgb)), 2) << photo.path;
    EXPECT_TRUE(Carried(photo.path) == srgb) << photo.path;
  }
  // An sRGB photo for Adobe RGB, held to the free profile compatible with it,
  // and for a custom profile.
  EXPECT_LE(LargestDifference(toAdobe[0].path, Reference("", adobe)), 2);
  EXPECT_TRUE(Carried(toAdobe[0].path) == runner::HostAdobeRgbProfile());
  EXPECT_LE(LargestDifference(toCustom[0].path, Reference("", lstar)), 2);
  EXPECT_TRUE(Carried(toCustom[0].path) == lstar);
  // No conversion: the pixels as they are, whatever the photo carries; an
  // untagged photo gives the very file an sRGB photo gives, a tagged one
  // carries its own profile, so that it keeps its colours where it is shown.
  EXPECT_TRUE(testsupport::ReadBytes(kept[0].path) == testsupport::ReadBytes(toSrgb[0].path));
  EXPECT_TRUE(Carried(kept[1].path) == adobe);
  const std::optional<sheetsmith::RgbaImage> keptUntagged = sheetsmith::LoadRgba(kept[0].path);
  const std::optional<sheetsmith::RgbaImage> keptTagged = sheetsmith::LoadRgba(kept[1].path);
  ASSERT_TRUE(keptUntagged && keptTagged);
  EXPECT_EQ(testsupport::MeanAbsDiff(*keptUntagged, *keptTagged), 0.0);
  // A custom profile that cannot be used fails every photo, naming it.
  for (const Baked& photo : toMissing) {
    EXPECT_EQ(photo.error,
              "Color profile " + WindowsPath(missing) + " cannot be used: the file cannot be read");
  }
  // One line a photo names the two profiles.
  EXPECT_THAT(run.out,
              HasSubstr("INFO: Color conversion: Compatible with Adobe RGB (1998) (embedded) -> "
                        "sRGB IEC61966-2.1 (Korvela)\n"));
  EXPECT_THAT(run.out, HasSubstr("INFO: Color conversion: sRGB (no profile embedded) -> "
                                 "sRGB IEC61966-2.1 (Korvela) (colors unchanged)\n"));
  EXPECT_THAT(run.out,
              HasSubstr("INFO: Color conversion: none, the photo's own colors are kept\n"));
}

// The same Display P3 photo baked, made into a grid page by sheetsmith.exe,
// and by the host's own composer: the three agree within 2 levels, and with
// Little CMS's conversion; each carries sRGB. A grid request for a custom
// profile that cannot be used fails, naming it.
// The patches as a JPEG carrying Display P3; empty when it cannot be written.
std::string P3Photo(testsupport::TempDir& dir) {
  const std::string photo = dir.File("display p3.jpg");
  const std::string chunk = testsupport::IccChunkSegment(testsupport::DisplayP3Profile(), 1, 1);
  const bool written = testsupport::WriteBytes(
      photo, testsupport::InsertAfterSoi(testsupport::EncodeJpeg(Patches(), 100), chunk));
  return written ? photo : std::string();
}

// A baked photo's border (chosen in sRGB) and its untagged frame keep their
// own colours on a page of another profile: each is converted from its own
// colours, not from the photo's, and the photo from its profile.
TEST(ColorTest, ABakedBorderAndFrameAreConvertedFromTheirOwnColours) {
  if (!HostAvailable()) GTEST_SKIP() << "KORVELA_WINDOWS_BIN and KORVELA_WINE_RUN are not set";
  testsupport::TempDir dir("korvela frame colours");
  const std::string p3 = testsupport::DisplayP3Profile();
  const std::string photo = P3Photo(dir);
  ASSERT_FALSE(photo.empty());
  // A frame clear but for an orange band along the bottom.
  sheetsmith::RgbaImage frameImage = testsupport::Solid(240, 160, {0, 0, 0}, 0);
  for (int y = 140; y < 160; ++y) {
    for (int x = 0; x < 240; ++x) {
      std::uint8_t* p = frameImage.At(x, y);
      p[0] = 200, p[1] = 100, p[2] = 50, p[3] = 255;
    }
  }
  const std::string frame = dir.File("frame.png");
  ASSERT_TRUE(testsupport::WritePng(frame, frameImage));
  const EncodableMap request{
      {S("sourcePath"), S(WindowsPath(photo))},
      {S("framePath"), S(WindowsPath(frame))},
      {S("canvasWidth"), EncodableValue(240)},
      {S("canvasHeight"), EncodableValue(160)},
      {S("effects"), EncodableValue(EncodableMap{
                         {S("stroke"), EncodableValue(0.5)},
                         {S("strokeExternal"), EncodableValue(0.0)},
                         {S("strokeColor"), EncodableValue(static_cast<double>(0xFF008000u))}})}};
  const HostRun run =
      RunHost(HostScript()
                  .Call("printing_channel", "setSelectedColorProfile",
                        EncodableValue(EncodableMap{{S("profileId"), S("adobe_rgb")}}))
                  .Call("printing_channel", "bakeImagesForPrinting",
                        EncodableValue(EncodableMap{
                            {S("requests"), EncodableValue(EncodableList{EncodableValue(request)})},
                            {S("jpegQuality"), EncodableValue(100)}}))
                  .Call("printing_channel", "setSelectedColorProfile",
                        EncodableValue(EncodableMap{{S("profileId"), S("srgb")}})));
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const std::vector<Baked> baked = Results(run.AnswerTo(2));
  ASSERT_EQ(baked.size(), 1u) << run.err;
  const auto image = sheetsmith::LoadRgba(baked[0].path);
  ASSERT_TRUE(image) << run.err;
  const std::vector<std::array<int, 3>> own =
      Reference("", runner::HostAdobeRgbProfile(), {{0, 128, 0}, {200, 100, 50}});
  const std::pair<int, int> at[] = {{4, 40}, {120, 150}};  // the border, the frame
  for (int i = 0; i < 2; ++i) {
    const std::uint8_t* p = image->At(at[i].first, at[i].second);
    for (int c = 0; c < 3; ++c) EXPECT_LE(std::abs(p[c] - own[i][c]), 2) << i << " " << c;
  }
  // The photo's patches away from both, from its own profile.
  const std::vector<std::array<int, 3>> patches =
      Reference(p3, runner::HostAdobeRgbProfile(), PatchColours(photo));
  for (const int i : {1, 2, 4}) {
    const std::uint8_t* p = image->At((i % 3) * 80 + 40, (i / 3) * 80 + 40);
    for (int c = 0; c < 3; ++c) EXPECT_LE(std::abs(p[c] - patches[i][c]), 2) << "patch " << i;
  }
}

TEST(ColorTest, OnePhotoHasTheSameColoursOnEveryRoad) {
  if (!HostAvailable()) GTEST_SKIP() << "KORVELA_WINDOWS_BIN and KORVELA_WINE_RUN are not set";
  testsupport::TempDir dir("korvela roads");
  const std::string p3 = testsupport::DisplayP3Profile();
  const std::string photo = P3Photo(dir);
  ASSERT_FALSE(photo.empty());
  const auto grid = [&](const std::string& page) {
    EncodableMap arguments{{S("imagePaths"), EncodableValue(EncodableList{S(WindowsPath(photo))})},
                           {S("outputPaths"), EncodableValue(EncodableList{S(WindowsPath(page))})},
                           {S("rows"), EncodableValue(1)},
                           {S("columns"), EncodableValue(1)},
                           {S("pageWidth"), EncodableValue(240)},
                           {S("pageHeight"), EncodableValue(160)},
                           {S("jpegQuality"), EncodableValue(100)}};
    for (const char* margin : {"marginLeft", "marginRight", "marginTop", "marginBottom"}) {
      arguments[S(margin)] = EncodableValue(0);
    }
    return EncodableValue(arguments);
  };
  const std::string composerPage = dir.File("composer page.jpg");
  const std::string hostPage = dir.File("host page.jpg");
  const std::string refusedPage = dir.File("refused page.jpg");
  const std::string missing = dir.File("missing.icc");
  const HostRun run = RunHost(
      HostScript()
          .Call("printing_channel", "bakeImagesForPrinting",
                EncodableValue(EncodableMap{
                    {S("requests"), EncodableValue(EncodableList{EncodableValue(
                                        EncodableMap{{S("sourcePath"), S(WindowsPath(photo))},
                                                     {S("canvasWidth"), EncodableValue(240)},
                                                     {S("canvasHeight"), EncodableValue(160)}})})},
                    {S("jpegQuality"), EncodableValue(100)}}))
          .Call("printing_channel", "createGridImages", grid(composerPage))
          .Call("printing_channel", "setSelectedColorProfile",
                EncodableValue(EncodableMap{{S("profileId"), S("custom:" + WindowsPath(missing))}}))
          .Call("printing_channel", "createGridImagesFast", grid(refusedPage))
          .Call("printing_channel", "setSelectedColorProfile",
                EncodableValue(EncodableMap{{S("profileId"), S("srgb")}})));
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const std::vector<Baked> baked = Results(run.AnswerTo(1));
  ASSERT_EQ(baked.size(), 1u) << run.err;
  ASSERT_TRUE(run.AnswerTo(2) && run.AnswerTo(4));
  EXPECT_EQ(run.AnswerTo(2)->SuccessValue(), EncodableValue(true)) << run.err;
  EXPECT_EQ(run.AnswerTo(4)->Error(), "GRID_ERROR: Color profile " + WindowsPath(missing) +
                                          " cannot be used: the file cannot be read");
  EXPECT_FALSE(fs::exists(testsupport::PathFromUtf8(refusedPage)));

  HostOptions withoutComposer;
  withoutComposer.leaveOut = {"sheetsmith.exe"};
  const HostRun fallback = RunHost(
      HostScript().Call("printing_channel", "createGridImages", grid(hostPage)), withoutComposer);
  ASSERT_EQ(fallback.exitCode, 0) << fallback.err;
  EXPECT_EQ(fallback.AnswerTo(1)->SuccessValue(), EncodableValue(true)) << fallback.err;
  EXPECT_THAT(fallback.err, HasSubstr("GridComposer - "));

  // The patches as the photo's JPEG holds them, converted.
  const std::vector<std::array<int, 3>> reference =
      Reference(p3, runner::HostSrgbProfile(), PatchColours(photo));
  const std::pair<const char*, std::string> roads[] = {
      {"baked", baked[0].path}, {"sheetsmith.exe", composerPage}, {"host composer", hostPage}};
  std::vector<std::vector<std::array<int, 3>>> colours;
  for (const auto& [road, path] : roads) {
    colours.push_back(PatchColours(path));
    ASSERT_EQ(colours.back().size(), 6u) << road;
    EXPECT_LE(LargestDifference(path, reference), 2) << road;
    EXPECT_TRUE(Carried(path) == runner::HostSrgbProfile()) << road;
  }
  for (int i = 0; i < 6; ++i) {
    for (int c = 0; c < 3; ++c) {
      const int values[3] = {colours[0][i][c], colours[1][i][c], colours[2][i][c]};
      EXPECT_LE(*std::max_element(values, values + 3) - *std::min_element(values, values + 3), 2)
          << "patch " << i << ", channel " << c;
    }
  }
}

}  // namespace
}  // namespace e2e
