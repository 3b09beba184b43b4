// Korvela.exe as the release ships it: the folder unpacked from the zip, with
// the stand-in engine and plug-ins placed beside it as the Flutter build
// places the real ones. A background grid job and a bake, each of a JPEG and
// of the same photo as HEIC, run to their files. Run by
// tests/package/package_test.sh, which names the folder (KORVELA_WINDOWS_BIN)
// and the photos' folder (KORVELA_PACKAGE_PHOTOS: photo.jpg, and photo.heic
// encoded from it).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "host_driver.h"
#include "imaging/reading/photo_reader.h"

namespace e2e {
namespace {

using runner::EncodableList;
using runner::EncodableMap;
using sheetsmith::RgbaImage;
namespace fs = std::filesystem;

// Mean difference per channel between two same-sized regions.
double MeanDifference(const RgbaImage& a, int ax, const RgbaImage& b, int bx, int width,
                      int height) {
  double sum = 0;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      for (int c = 0; c < 3; ++c) sum += std::abs(a.At(ax + x, y)[c] - b.At(bx + x, y)[c]);
    }
  }
  return sum / (3.0 * width * height);
}

class ShippedHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* photos = std::getenv("KORVELA_PACKAGE_PHOTOS");
    if (!HostAvailable() || !photos) {
      GTEST_SKIP() << "KORVELA_WINDOWS_BIN, KORVELA_WINE_RUN and KORVELA_PACKAGE_PHOTOS are not set";
    }
    jpeg = (fs::path(photos) / "photo.jpg").string();
    heic = (fs::path(photos) / "photo.heic").string();
    pages = fs::path(photos) / "pages";
    fs::create_directories(pages);
  }

  std::string jpeg, heic;
  fs::path pages;
};

TEST_F(ShippedHostTest, ABackgroundGridJobComposesAJpegAndAHeicWithSheetsmith) {
  const std::string page = (pages / "page 1.jpg").string();
  EncodableMap grid{
      {S("imagePaths"), EncodableValue(EncodableList{S(WindowsPath(jpeg)), S(WindowsPath(heic))})},
      {S("outputPaths"), EncodableValue(EncodableList{S(WindowsPath(page))})},
      {S("rows"), EncodableValue(1)},
      {S("columns"), EncodableValue(2)},
      {S("pageWidth"), EncodableValue(1200)},
      {S("pageHeight"), EncodableValue(450)}};
  for (const char* margin : {"marginLeft", "marginRight", "marginTop", "marginBottom"}) {
    grid[S(margin)] = EncodableValue(0);
  }
  const HostRun run = RunHost(
      HostScript().Call("printing_channel", "createGridImagesFastAsync", EncodableValue(grid))
          .PollGridJob(1));
  ASSERT_EQ(run.exitCode, 0) << run.err;
  ASSERT_FALSE(run.answers.empty()) << run.err;
  const std::optional<EncodableValue> status = run.answers.back().SuccessValue();
  ASSERT_TRUE(status) << run.answers.back().Error() << run.err;
  const EncodableMap& finished = status->Get<EncodableMap>();
  EXPECT_EQ(finished.at(S("success")), EncodableValue(true)) << run.err;
  EXPECT_EQ(finished.at(S("unreadablePhotos")), EncodableValue(EncodableList{})) << run.err;
  EXPECT_THAT(run.err, ::testing::HasSubstr("DEBUG C++: sheetsmith completed in "));

  const auto composed = sheetsmith::LoadRgba(page);
  ASSERT_TRUE(composed) << page;
  ASSERT_EQ(composed->width, 1200);
  ASSERT_EQ(composed->height, 450);
  // The HEIC's magnet is the JPEG's, up to the HEIC's own loss.
  EXPECT_LT(MeanDifference(*composed, 0, *composed, 600, 600, 450), 4.0);
}

TEST_F(ShippedHostTest, ABakeWritesAJpegAndAHeicPhotoAlike) {
  EncodableList requests;
  for (const std::string& photo : {jpeg, heic}) {
    requests.emplace_back(EncodableMap{{S("sourcePath"), S(WindowsPath(photo))},
                                       {S("canvasWidth"), EncodableValue(600)},
                                       {S("canvasHeight"), EncodableValue(400)}});
  }
  const HostRun run = RunHost(HostScript().Call(
      "printing_channel", "bakeImagesForPrinting",
      EncodableValue(EncodableMap{{S("requests"), EncodableValue(requests)}})));
  ASSERT_EQ(run.exitCode, 0) << run.err;
  ASSERT_EQ(run.answers.size(), 1u) << run.err;
  const std::optional<EncodableValue> reply = run.answers[0].SuccessValue();
  ASSERT_TRUE(reply) << run.answers[0].Error() << run.err;
  const EncodableList& results = reply->Get<EncodableMap>().at(S("results")).Get<EncodableList>();
  ASSERT_EQ(results.size(), 2u);
  std::optional<RgbaImage> baked[2];
  for (int i = 0; i < 2; ++i) {
    const EncodableMap& result = results[i].Get<EncodableMap>();
    ASSERT_EQ(result.at(S("success")), EncodableValue(true)) << run.err;
    baked[i] = sheetsmith::LoadRgba(UnixPathOfDriveC(result.at(S("bakedPath")).Get<std::string>()));
    ASSERT_TRUE(baked[i]);
    ASSERT_EQ(baked[i]->width, 600);
    ASSERT_EQ(baked[i]->height, 400);
  }
  EXPECT_LT(MeanDifference(*baked[0], 0, *baked[1], 0, 600, 400), 4.0);
}

}  // namespace
}  // namespace e2e
