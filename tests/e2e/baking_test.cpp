// "bakeImagesForPrinting" and the colour profile methods through Korvela.exe
// under Wine, on photos the tests make.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <utility>

#include "host_driver.h"
#include "imaging/reading/photo_reader.h"
#include "test_photos.h"

namespace e2e {
namespace {

using runner::EncodableList;
using runner::EncodableMap;
using sheetsmith::RgbaImage;
using ::testing::HasSubstr;

namespace fs = std::filesystem;

struct Baked {
  bool success = false;
  int index = -1;
  std::string path;  // this machine's path of the baked file
  std::string name;  // its file name
  std::string error;
};

std::vector<Baked> Results(const EncodableValue& reply) {
  std::vector<Baked> baked;
  for (const EncodableValue& entry :
       reply.Get<EncodableMap>().at(S("results")).Get<EncodableList>()) {
    const auto& map = entry.Get<EncodableMap>();
    Baked b;
    b.success = map.at(S("success")).Get<bool>();
    b.index = map.at(S("index")).Get<std::int32_t>();
    if (b.success) {
      const std::string windowsPath = map.at(S("bakedPath")).Get<std::string>();
      b.path = UnixPathOfDriveC(windowsPath);
      b.name = windowsPath.substr(windowsPath.find_last_of('\\') + 1);
    } else {
      b.error = map.at(S("error")).Get<std::string>();
    }
    baked.push_back(b);
  }
  return baked;
}

EncodableValue Request(const std::string& source, int width, int height, EncodableMap extra = {}) {
  extra[S("sourcePath")] = S(WindowsPath(source));
  extra[S("canvasWidth")] = EncodableValue(width);
  extra[S("canvasHeight")] = EncodableValue(height);
  return EncodableValue(extra);
}

EncodableValue Bake(EncodableList requests, EncodableMap extra = {}) {
  extra[S("requests")] = EncodableValue(std::move(requests));
  return EncodableValue(extra);
}

struct Rgb {
  int r, g, b;
};
Rgb At(const RgbaImage& image, int x, int y) {
  const std::uint8_t* p = image.At(x, y);
  return {p[0], p[1], p[2]};
}
bool Near(Rgb a, Rgb b, int tolerance = 40) {
  return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance &&
         std::abs(a.b - b.b) <= tolerance;
}
const Rgb kWhite{255, 255, 255};
const Rgb kRed{255, 0, 0};
const Rgb kGreen{0, 255, 0};
const Rgb kBlue{0, 0, 255};
const Rgb kYellow{255, 255, 0};

class BakingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HostAvailable()) GTEST_SKIP() << "KORVELA_WINDOWS_BIN and KORVELA_WINE_RUN are not set";
  }
  std::string Photo(const std::string& name, const RgbaImage& image, int exif = 0) {
    const std::string path = dir.File(name);
    EXPECT_TRUE(testsupport::WriteJpeg(path, image, 97, exif));
    return path;
  }
  static RgbaImage Load(const Baked& baked) {
    auto image = sheetsmith::LoadRgba(baked.path);
    EXPECT_TRUE(image) << baked.path;
    return image ? std::move(*image) : RgbaImage{};
  }

  testsupport::TempDir dir{"korvela bake \xD7\xA7"};
};

TEST_F(BakingTest, AMixedBatchAnswersOneResultPerAcceptedRequestInOrder) {
  const std::string landscape = Photo("landscape.jpg", testsupport::Gradient(1600, 1200, 1));
  const std::string portrait = Photo("portrait.jpg", testsupport::Gradient(1200, 1600, 2));
  // Stored 800 x 600 with orientation 6: a 600 x 800 photo upright.
  const std::string turned = Photo("turned.jpg", testsupport::Quadrants(800, 600), 6);
  const std::string png = dir.File("clear.png");
  ASSERT_TRUE(testsupport::WritePng(png, testsupport::Solid(500, 500, {0, 0, 255}, 0)));
  EncodableList requests = {
      Request(landscape, 400, 300),
      EncodableValue(EncodableMap{{S("sourcePath"), S(WindowsPath(landscape))},
                                  {S("canvasWidth"), EncodableValue(10)}}),  // skipped
      Request(portrait, 300, 400, {{S("framePath"), S(WindowsPath(dir.File("no frame.png")))}}),
      Request(dir.File("missing.jpg"), 300, 300),
      Request(turned, 200, 200),  // scaled decode (WIC)
      Request(turned, 600, 600),  // full-size decode, through WIC too
      Request(png, 250, 250),
  };
  const HostRun run =
      RunHost(HostScript().Call("printing_channel", "bakeImagesForPrinting", Bake(requests)));
  ASSERT_EQ(run.exitCode, 0) << run.err;
  ASSERT_EQ(run.answers.size(), 1u);
  const auto reply = run.answers[0].SuccessValue();
  ASSERT_TRUE(reply) << run.answers[0].Error() << run.err;
  EXPECT_EQ(reply->Get<EncodableMap>().at(S("successCount")), EncodableValue(5));
  EXPECT_EQ(reply->Get<EncodableMap>().at(S("failureCount")), EncodableValue(1));
  const std::vector<Baked> baked = Results(*reply);
  ASSERT_EQ(baked.size(), 6u);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(baked[i].index, i);
  EXPECT_THAT(baked[1].name, ::testing::StartsWith("baked_0001_"));
  EXPECT_FALSE(baked[2].success);
  EXPECT_EQ(baked[2].error, "Failed to render image with effects: there is no such file");
  const std::pair<int, int> sizes[] = {{400, 300}, {300, 400}, {0, 0},
                                       {200, 200}, {600, 600}, {250, 250}};
  for (int i = 0; i < 6; ++i) {
    if (!baked[i].success) continue;
    const RgbaImage image = Load(baked[i]);
    EXPECT_EQ(image.width, sizes[i].first) << i;
    EXPECT_EQ(image.height, sizes[i].second) << i;
  }
  // Orientation 6 turns the stored pixels clockwise: the stored bottom-left
  // (blue) is the upright top-left, the stored top-left (red) the top-right.
  // The reader turns them by the file's orientation, whatever size it reads.
  for (const int i : {3, 4}) {
    const RgbaImage upright = Load(baked[i]);
    EXPECT_TRUE(Near(At(upright, 5, 5), kBlue)) << i;
    EXPECT_TRUE(Near(At(upright, upright.width - 6, 5), kRed)) << i;
    EXPECT_TRUE(Near(At(upright, 5, upright.height - 6), kYellow)) << i;
  }
  // The transparent PNG leaves the canvas white.
  EXPECT_TRUE(Near(At(Load(baked[5]), 125, 125), kWhite, 3));
  EXPECT_THAT(run.err, HasSubstr("DEBUG: Reader decode 800x600 -> "));
  EXPECT_THAT(run.err, HasSubstr("ERROR: Failed to load image: there is no such file"));
}

TEST_F(BakingTest, APhoneStylePortraitStoredLandscapeBakesUpright) {
  // Stored 1600 x 1200 with orientation 6, as a phone writes a portrait: on
  // a portrait canvas every quadrant shows, each where it belongs upright.
  const std::string phone = Photo("phone.jpg", testsupport::Quadrants(1600, 1200), 6);
  const HostRun run =
      RunHost(HostScript().Call("printing_channel", "bakeImagesForPrinting",
                                Bake({Request(phone, 300, 400), Request(phone, 600, 800)})));
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const auto reply = run.answers.at(0).SuccessValue();
  ASSERT_TRUE(reply) << run.err;
  const std::vector<Baked> baked = Results(*reply);
  ASSERT_EQ(baked.size(), 2u);
  for (const Baked& b : baked) {
    ASSERT_TRUE(b.success) << b.error;
    const RgbaImage image = Load(b);
    const int w = image.width;
    const int h = image.height;
    EXPECT_TRUE(Near(At(image, w / 4, h / 4), kBlue)) << b.name;
    EXPECT_TRUE(Near(At(image, 3 * w / 4, h / 4), kRed)) << b.name;
    EXPECT_TRUE(Near(At(image, w / 4, 3 * h / 4), kYellow)) << b.name;
    EXPECT_TRUE(Near(At(image, 3 * w / 4, 3 * h / 4), kGreen)) << b.name;
  }
  // The photo is read at the wanted size in the stored pixels' space: 600 x
  // 450 for the 300 x 400 canvas (wanted 450 x 600 upright), not 800 x 600
  // as the upright wanted size would give.
  EXPECT_THAT(run.err, HasSubstr("DEBUG: Reader decode 1600x1200 -> 600x450"));
}

TEST_F(BakingTest, PixelsShowZoomPanTurnStrokeAndFrame) {
  const std::string quadrants = Photo("quadrants.jpg", testsupport::Quadrants(400, 400));
  const std::string frame = dir.File("frame.png");
  // A frame: an opaque white band of 30 pixels at the left, transparent elsewhere.
  RgbaImage frameImage = testsupport::Solid(200, 100, {255, 255, 255}, 0);
  for (int y = 0; y < 100; ++y)
    for (int x = 0; x < 30; ++x) frameImage.At(x, y)[3] = 255;
  ASSERT_TRUE(testsupport::WritePng(frame, frameImage));
  auto effects = [](double stroke, bool external, double color) {
    return EncodableValue(EncodableMap{{S("stroke"), EncodableValue(stroke)},
                                       {S("strokeExternal"), EncodableValue(external ? 1.0 : 0.0)},
                                       {S("strokeColor"), EncodableValue(color)}});
  };
  const double opaqueBlack = 4278190080.0;
  EncodableList requests = {
      Request(quadrants, 200, 200),                                            // cover
      Request(quadrants, 200, 200, {{S("imageScale"), EncodableValue(0.5)}}),  // zoom out
      Request(quadrants, 200, 200, {{S("offsetX"), EncodableValue(50.0)}}),    // pan right
      Request(quadrants, 200, 200, {{S("rotateForOutput"), EncodableValue(true)}}),
      Request(quadrants, 200, 200,
              {{S("effects"), effects(0.5, false, opaqueBlack)}}),  // 10 px inside
      Request(quadrants, 200, 200,
              {{S("effects"), effects(0.5, true, opaqueBlack)}}),  // half outside
      Request(quadrants, 200, 100,
              {{S("effects"), effects(0.5, false, opaqueBlack)},
               {S("framePath"), S(WindowsPath(frame))}}),
      Request(
          quadrants, 200, 100,
          {{S("rotateForOutput"), EncodableValue(true)}, {S("framePath"), S(WindowsPath(frame))}}),
  };
  const HostRun run =
      RunHost(HostScript().Call("printing_channel", "bakeImagesForPrinting", Bake(requests)));
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const auto reply = run.answers.at(0).SuccessValue();
  ASSERT_TRUE(reply) << run.err;
  const std::vector<Baked> baked = Results(*reply);
  ASSERT_EQ(baked.size(), 8u);
  for (const Baked& b : baked) ASSERT_TRUE(b.success) << b.error;

  const RgbaImage cover = Load(baked[0]);
  EXPECT_TRUE(Near(At(cover, 20, 20), kRed));
  EXPECT_TRUE(Near(At(cover, 180, 180), kYellow));
  const RgbaImage zoomed = Load(baked[1]);
  EXPECT_TRUE(Near(At(zoomed, 10, 10), kWhite));  // white around the smaller photo
  EXPECT_TRUE(Near(At(zoomed, 60, 60), kRed));
  const RgbaImage panned = Load(baked[2]);
  EXPECT_TRUE(Near(At(panned, 20, 100), kWhite));  // uncovered on the left
  EXPECT_TRUE(Near(At(panned, 80, 20), kRed));
  EXPECT_TRUE(Near(At(panned, 170, 20), kGreen));
  const RgbaImage turned = Load(baked[3]);
  EXPECT_TRUE(Near(At(turned, 20, 20), kBlue));  // clockwise: bottom-left comes to the top
  EXPECT_TRUE(Near(At(turned, 180, 20), kRed));
  const RgbaImage inside = Load(baked[4]);
  EXPECT_TRUE(Near(At(inside, 2, 50), {0, 0, 0}));
  EXPECT_TRUE(Near(At(inside, 8, 50), {0, 0, 0}));
  EXPECT_TRUE(Near(At(inside, 14, 50), kRed));
  const RgbaImage outside = Load(baked[5]);
  EXPECT_TRUE(Near(At(outside, 1, 50), {0, 0, 0}));
  EXPECT_TRUE(Near(At(outside, 3, 50), {0, 0, 0}));
  EXPECT_TRUE(Near(At(outside, 9, 50), kRed));  // only about half the pen shows
  const RgbaImage framed = Load(baked[6]);
  EXPECT_TRUE(Near(At(framed, 5, 50), kWhite));       // the frame covers the stroke
  EXPECT_TRUE(Near(At(framed, 195, 50), {0, 0, 0}));  // no frame there: the stroke shows
  // Turned with the photo, the frame's left band (30 of 200 columns) lies
  // along the top: 30 of 200 rows, stretched over 100 rows, is 15.
  const RgbaImage turnedFrame = Load(baked[7]);
  for (const int x : {20, 100, 180}) {
    EXPECT_TRUE(Near(At(turnedFrame, x, 5), kWhite, 8)) << x;
    EXPECT_FALSE(Near(At(turnedFrame, x, 40), kWhite, 60)) << x;
  }
  EXPECT_FALSE(Near(At(turnedFrame, 5, 60), kWhite, 60));  // not where the unturned band lies
}

TEST_F(BakingTest, ThreadCountAndQualityLimits) {
  const std::string photo = Photo("detail.jpg", testsupport::Gradient(900, 900, 3));
  const EncodableList two = {Request(photo, 300, 300), Request(photo, 300, 300)};
  const HostRun run = RunHost(
      HostScript()
          .Call("printing_channel", "bakeImagesForPrinting",
                Bake(two,
                     {{S("maxThreads"), EncodableValue(3)}, {S("jpegQuality"), EncodableValue(0)}}))
          .Call("printing_channel", "bakeImagesForPrinting",
                Bake({Request(photo, 300, 300)}, {{S("jpegQuality"), EncodableValue(150)}})));
  ASSERT_EQ(run.exitCode, 0) << run.err;
  ASSERT_EQ(run.answers.size(), 2u);
  EXPECT_THAT(run.err, HasSubstr("INFO: Starting parallel baking with 3 threads for 2 images"));
  EXPECT_THAT(run.err, HasSubstr("INFO: Joining thread 1 "));
  EXPECT_THAT(run.err, ::testing::Not(HasSubstr("INFO: Joining thread 2 ")));
  const std::vector<Baked> first = Results(*run.answers[0].SuccessValue());
  const std::vector<Baked> second = Results(*run.answers[1].SuccessValue());
  ASSERT_EQ(first.size(), 2u);
  ASSERT_EQ(second.size(), 1u);
  // Quality 0 and 150 are clamped (1 and 100) and both bake. Wine's JPEG
  // encoder does not honour the quality value, so the files' sizes say
  // nothing here; the clamp itself is tested with the arguments.
  EXPECT_TRUE(first[0].success);
  EXPECT_TRUE(second[0].success);
  EXPECT_NE(first[0].path, first[1].path);
  EXPECT_NE(first[0].path, second[0].path);
}

// A call in the same second as an earlier one finds its folder already made
// and bakes into it beside the earlier files. Which second a call falls in
// cannot be chosen, so the folders of the coming minutes are made first,
// each holding an earlier call's file.
TEST_F(BakingTest, CallsInTheSameSecondShareOneFolderAndKeepEachOthersFiles) {
  const std::string photo = Photo("same second.jpg", testsupport::Gradient(400, 400, 5));
  const fs::path temp = testsupport::PathFromUtf8(HostTempFolder());
  std::vector<fs::path> made;
  const std::time_t now = std::time(nullptr);
  for (int second = 0; second < 240; ++second) {
    const std::time_t at = now + second;
    std::tm local = {};
    localtime_r(&at, &local);
    char name[64];
    std::snprintf(name, sizeof name, "Korvela_Baking_%d%02d%d_%d%d%d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    const fs::path folder = temp / name;
    if (fs::exists(folder)) continue;
    fs::create_directories(folder);
    std::ofstream(folder / "baked_earlier.jpg") << "earlier";
    made.push_back(folder);
  }
  const HostRun run = RunHost(
      HostScript()
          .Call("printing_channel", "bakeImagesForPrinting",
                Bake({Request(photo, 200, 200), Request(photo, 200, 200)}))
          .Call("printing_channel", "bakeImagesForPrinting", Bake({Request(photo, 200, 200)})));
  ASSERT_EQ(run.exitCode, 0) << run.err;
  ASSERT_EQ(run.answers.size(), 2u);
  std::vector<Baked> all = Results(*run.answers[0].SuccessValue());
  const std::vector<Baked> second = Results(*run.answers[1].SuccessValue());
  all.insert(all.end(), second.begin(), second.end());
  ASSERT_EQ(all.size(), 3u);
  for (const Baked& b : all) {
    ASSERT_TRUE(b.success) << b.error;
    const fs::path folder = testsupport::PathFromUtf8(b.path).parent_path();
    EXPECT_TRUE(fs::exists(testsupport::PathFromUtf8(b.path))) << b.path;
    EXPECT_TRUE(fs::exists(folder / "baked_earlier.jpg")) << "the earlier file is gone";
  }
  EXPECT_NE(all[0].path, all[1].path);
  EXPECT_NE(all[1].path, all[2].path);
  for (const fs::path& folder : made) fs::remove_all(folder);
}

TEST_F(BakingTest, TheColourProfileChoiceIsKeptAcrossRuns) {
  const HostRun set =
      RunHost(HostScript()
                  .Call("printing_channel", "setSelectedColorProfile",
                        EncodableValue(EncodableMap{{S("profileId"), EncodableValue(5)}}))
                  .Call("printing_channel", "setSelectedColorProfile",
                        EncodableValue(EncodableMap{{S("profileId"), S("adobe_rgb")}})));
  ASSERT_EQ(set.exitCode, 0) << set.err;
  EXPECT_EQ(set.answers.at(0).Error(), "INVALID_ARGUMENTS: profileId must be a string");
  EXPECT_EQ(set.answers.at(1).SuccessValue(), EncodableValue(true));
  EXPECT_THAT(set.out, HasSubstr("INFO: Color profile set to: adobe_rgb\n"));

  const std::string photo = Photo("profile.jpg", testsupport::Gradient(300, 300, 4));
  const HostRun next = RunHost(
      HostScript()
          .Call("printing_channel", "getSelectedColorProfile")
          .Call("printing_channel", "bakeImagesForPrinting", Bake({Request(photo, 100, 100)}))
          .Call("printing_channel", "setSelectedColorProfile",
                EncodableValue(EncodableMap{{S("profileId"), S("")}}))
          .Call("printing_channel", "getSelectedColorProfile")
          .Call("printing_channel", "setSelectedColorProfile",
                EncodableValue(EncodableMap{{S("profileId"), S("srgb")}})));
  ASSERT_EQ(next.exitCode, 0) << next.err;
  EXPECT_EQ(next.answers.at(0).SuccessValue(), S("adobe_rgb"));
  EXPECT_THAT(next.err, HasSubstr("INFO: Using color profile: adobe_rgb"));
  EXPECT_THAT(next.out, HasSubstr("INFO: Color profile selected: Adobe RGB (1998)\n"));
  EXPECT_EQ(next.answers.at(3).SuccessValue(), S(""));
}

TEST_F(BakingTest, AHebrewCustomProfileSurvivesAHebrewAnsiCodePage) {
  // KORVELA_LOCPATH holds a compiled he_IL.UTF-8 locale; with it Wine gives
  // its programs the ANSI code page 1255, in which some bytes of UTF-8
  // Hebrew are undefined.
  const char* locales = std::getenv("KORVELA_LOCPATH");
  if (!locales) GTEST_SKIP() << "KORVELA_LOCPATH is not set (scripts/test.sh sets it)";
  const ScopedEnvironment hebrew{{"LOCPATH", locales}, {"LC_ALL", "he_IL.UTF-8"}};
  const std::string id =
      "custom:C:\\\xD7\xA4\xD7\xA8\xD7\x95\xD7\xA4\xD7\x99\xD7\x9C\xD7\x99\xD7\x9D\\"
      "\xD7\x90\xD7\x93\xD7\x95\xD7\x9D.icc";
  const HostRun set = RunHost(HostScript().RecordAnsiCodePage().Call(
      "printing_channel", "setSelectedColorProfile",
      EncodableValue(EncodableMap{{S("profileId"), S(id)}})));
  ASSERT_EQ(set.exitCode, 0) << set.err;
  ASSERT_GE(set.Find("acp 1255"), 0) << "the Hebrew code page did not take";
  EXPECT_EQ(set.answers.at(0).SuccessValue(), EncodableValue(true));

  const HostRun next =
      RunHost(HostScript()
                  .Call("printing_channel", "getSelectedColorProfile")
                  .Call("printing_channel", "setSelectedColorProfile",
                        EncodableValue(EncodableMap{{S("profileId"), S("srgb")}})));
  ASSERT_EQ(next.exitCode, 0) << next.err;
  EXPECT_EQ(next.answers.at(0).SuccessValue(), S(id));
}

}  // namespace
}  // namespace e2e
