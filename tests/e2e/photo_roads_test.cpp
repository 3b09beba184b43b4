// Phone and browser photos on every road of Korvela.exe under Wine, where
// no Windows codec reads them: baked, made into a page by sheetsmith.exe and
// by the host's own composer, measured for metadata, and made into a
// thumbnail, each held to the same road given a PNG of the same pixels.
// Then CMYK and grey photos with their profiles, alike on every road, and
// the background job that tells which photos could not be read.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <limits>

#include "analysis_rules.h"
#include "host_driver.h"
#include "imaging/reading/photo_reader.h"
#include "test_photos.h"

namespace e2e {
namespace {

using runner::EncodableList;
using runner::EncodableMap;
using sheetsmith::RgbaImage;
using ::testing::HasSubstr;

// Runs a command of the encoders' own tools; true when it succeeded.
bool Shell(const std::string& command) { return std::system(command.c_str()) == 0; }

std::string Quoted(const std::string& path) { return "'" + path + "'"; }

// An EXIF block from its TIFF header: the orientation, DateTime and, in the
// Exif IFD, DateTimeOriginal, as a phone writes them.
std::string ExifBlock(int orientation, const std::string& taken) {
  const auto u16 = [](int v) { return std::string{static_cast<char>(v), static_cast<char>(v >> 8)}; };
  const auto u32 = [&](int v) { return u16(v & 0xFFFF) + u16(v >> 16); };
  const auto entry = [&](int tag, int type, int count, int value) {
    return u16(tag) + u16(type) + u32(count) + u32(value);
  };
  const std::string changed = "2020:01:01 00:00:00";
  // Header 8, IFD0 of 3 entries (42 bytes) at 8, Exif IFD of 1 (18) at 50,
  // then the two texts of 20 bytes each.
  std::string block = "II*" + std::string(1, '\0') + u32(8);
  block += u16(3) + entry(0x0112, 3, 1, orientation) + entry(0x0132, 2, 20, 68) +
           entry(0x8769, 4, 1, 50) + u32(0);
  block += u16(1) + entry(0x9003, 2, 20, 88) + u32(0);
  block += changed + std::string(1, '\0') + taken + std::string(1, '\0');
  return block;
}

// The picture turned a quarter clockwise.
RgbaImage TurnedClockwise(const RgbaImage& image) {
  RgbaImage turned = *sheetsmith::MakeImage(image.height, image.width, 255);
  for (int y = 0; y < turned.height; ++y) {
    for (int x = 0; x < turned.width; ++x) {
      std::copy_n(image.At(y, image.height - 1 - x), 4, turned.At(x, y));
    }
  }
  return turned;
}

RgbaImage Crop(const RgbaImage& image, int x0, int width) {
  RgbaImage part = *sheetsmith::MakeImage(width, image.height, 255);
  for (int y = 0; y < image.height; ++y) std::copy_n(image.At(x0, y), width * 4, part.At(0, y));
  return part;
}

// Peak signal to noise ratio of two images' colours, in dB; infinite when
// they are the same, and minus infinity when they differ in size or a file
// cannot be read.
double Psnr(const std::string& a, const std::string& b) {
  const auto first = sheetsmith::LoadRgba(a);
  const auto second = sheetsmith::LoadRgba(b);
  if (!first || !second || first->width != second->width || first->height != second->height) {
    return -std::numeric_limits<double>::infinity();
  }
  double squares = 0;
  for (std::size_t i = 0; i < first->ByteCount(); ++i) {
    if (i % 4 == 3) continue;
    const double d = first->data()[i] - second->data()[i];
    squares += d * d;
  }
  const double mean = squares / (static_cast<double>(first->ByteCount()) * 3 / 4);
  return mean == 0 ? std::numeric_limits<double>::infinity() : 10 * std::log10(255.0 * 255 / mean);
}

EncodableValue GridArguments(const std::string& photo, const std::string& page, int width,
                             int height) {
  EncodableMap arguments{{S("imagePaths"), EncodableValue(EncodableList{S(WindowsPath(photo))})},
                         {S("outputPaths"), EncodableValue(EncodableList{S(WindowsPath(page))})},
                         {S("rows"), EncodableValue(1)},
                         {S("columns"), EncodableValue(1)},
                         {S("pageWidth"), EncodableValue(width)},
                         {S("pageHeight"), EncodableValue(height)},
                         {S("jpegQuality"), EncodableValue(100)}};
  for (const char* margin : {"marginLeft", "marginRight", "marginTop", "marginBottom"}) {
    arguments[S(margin)] = EncodableValue(0);
  }
  return EncodableValue(arguments);
}

EncodableValue BakeArguments(const std::vector<std::string>& photos, int width, int height) {
  EncodableList requests;
  for (const std::string& photo : photos) {
    requests.emplace_back(EncodableMap{{S("sourcePath"), S(WindowsPath(photo))},
                                       {S("canvasWidth"), EncodableValue(width)},
                                       {S("canvasHeight"), EncodableValue(height)}});
  }
  return EncodableValue(EncodableMap{{S("requests"), EncodableValue(requests)},
                                     {S("jpegQuality"), EncodableValue(100)}});
}

// The baked files of a bake's answer (as this machine sees them), and each
// failure's message, in the order asked.
std::vector<std::pair<std::string, std::string>> Baked(const Answer* answer) {
  std::vector<std::pair<std::string, std::string>> baked;
  const auto value = answer ? answer->SuccessValue() : std::nullopt;
  if (!value) return baked;
  for (const EncodableValue& entry :
       value->Get<EncodableMap>().at(S("results")).Get<EncodableList>()) {
    const auto& map = entry.Get<EncodableMap>();
    const bool ok = map.at(S("success")) == EncodableValue(true);
    baked.emplace_back(ok ? UnixPathOfDriveC(map.at(S("bakedPath")).Get<std::string>()) : "",
                       ok ? "" : map.at(S("error")).Get<std::string>());
  }
  return baked;
}

// The PNG file of a thumbnail answer, written beside `like`.
std::string ThumbnailFile(const Answer* answer, const std::string& path) {
  const auto value = answer ? answer->SuccessValue() : std::nullopt;
  if (!value || !value->Is<std::vector<std::uint8_t>>()) return "";
  const auto& bytes = value->Get<std::vector<std::uint8_t>>();
  testsupport::WriteBytes(path, std::string(bytes.begin(), bytes.end()));
  return path;
}

// The two runs that take photos down every road: with sheetsmith.exe, the
// bake of all of them (step 1) and then, for each, a page of its own
// ("page N.jpg") followed by what `more` adds; without it, the host's own
// composer's page of each ("host page N.jpg", step N + 1).
struct Roads {
  HostRun run;
  HostRun host;
};
Roads RunRoads(const std::vector<std::string>& photos, int width, int height,
               const testsupport::TempDir& dir,
               const std::function<void(HostScript&, const std::string&)>& more = nullptr) {
  HostScript withComposer;
  HostScript withoutComposer;
  withComposer.Call("printing_channel", "bakeImagesForPrinting",
                    BakeArguments(photos, width, height));
  for (std::size_t i = 0; i < photos.size(); ++i) {
    const std::string n = std::to_string(i);
    withComposer.Call("printing_channel", "createGridImages",
                      GridArguments(photos[i], dir.File("page" + n + ".jpg"), width, height));
    if (more) more(withComposer, photos[i]);
    withoutComposer.Call(
        "printing_channel", "createGridImages",
        GridArguments(photos[i], dir.File("host page" + n + ".jpg"), width, height));
  }
  HostOptions fallback;
  fallback.leaveOut = {"sheetsmith.exe"};
  return {RunHost(withComposer), RunHost(withoutComposer, fallback)};
}

// A HEIC stored as a grid of two 64 x 64 tiles turned by its irot, carrying
// a Display P3 profile and an EXIF block whose orientation says the turn
// again (and is not made twice); a WebP and a 10-bit AVIF with an EXIF
// capture time. Each beside the PNG of the pixels it reads as.
TEST(PhotoRoadsTest, PhoneAndBrowserPhotosGoEveryRoadAsTheirPngsDo) {
  if (!HostAvailable()) GTEST_SKIP() << "KORVELA_WINDOWS_BIN and KORVELA_WINE_RUN are not set";
  testsupport::TempDir dir("korvela phone roads");
  const std::string taken = "2023:01:02 03:04:05";
  const RgbaImage upright = testsupport::Gradient(64, 128, 7);
  const RgbaImage stored = TurnedClockwise(upright);  // irot 1 turns it back
  const std::string p3 = dir.File("p3.icc");
  const std::string exifTurned = dir.File("exif6.tiff");
  const std::string exifUpright = dir.File("exif1.tiff");
  ASSERT_TRUE(testsupport::WriteBytes(p3, testsupport::DisplayP3Profile()));
  ASSERT_TRUE(testsupport::WriteBytes(exifTurned, ExifBlock(6, taken)));
  ASSERT_TRUE(testsupport::WriteBytes(exifUpright, ExifBlock(1, taken)));
  const std::string png = dir.File("upright.png");
  const std::string pngP3 = dir.File("upright p3.png");
  ASSERT_TRUE(testsupport::WritePng(png, upright));
  ASSERT_TRUE(testsupport::WriteBytes(
      pngP3, testsupport::WithIccpChunk(testsupport::ReadBytes(png), testsupport::DisplayP3Profile())));
  std::string tiles;
  for (int t = 0; t < 2; ++t) {
    const std::string tile = dir.File("tile" + std::to_string(t));
    ASSERT_TRUE(testsupport::WritePng(tile + ".png", Crop(stored, t * 64, 64)));
    ASSERT_TRUE(Shell("heif-enc -L --no-alpha -p chroma=444 --matrix_coefficients=0 " +
                      Quoted(tile + ".png") +
                      " -o " + Quoted(tile + ".heic") + " > /dev/null"));
    tiles += " " + Quoted(tile + ".heic");
  }
  const std::string heic = dir.File("phone.heic");
  const std::string webp = dir.File("browser.webp");
  const std::string avif = dir.File("deep.avif");
  ASSERT_TRUE(Shell("python3 " + Quoted(KORVELA_SOURCE_DIR "/tests/formats/heic_grid.py") +
                    " --irot 1 --icc " + Quoted(p3) + " --exif " + Quoted(exifTurned) + " " +
                    Quoted(heic) + " 2 1 128 64" + tiles));
  ASSERT_TRUE(Shell("cwebp -quiet -lossless -exact " + Quoted(png) + " -o " + Quoted(webp + ".plain") +
                    " && webpmux -set exif " + Quoted(exifUpright) + " " + Quoted(webp + ".plain") +
                    " -o " + Quoted(webp) + " > /dev/null"));
  ASSERT_TRUE(Shell("avifenc -l -d 10 --exif " + Quoted(exifUpright) + " " + Quoted(png) + " " +
                    Quoted(avif) + " > /dev/null"));

  // Each photo and its PNG, in pairs, on every road.
  const std::pair<std::string, std::string> photos[] = {{heic, pngP3}, {webp, png}, {avif, png}};
  std::vector<std::string> paths;
  for (const auto& [photo, reference] : photos) {
    paths.push_back(photo);
    paths.push_back(reference);
  }
  const Roads roads = RunRoads(paths, 64, 128, dir, [](HostScript& script, const std::string& path) {
    script.Call("media_info_channel", "getQuickMeta",
                EncodableValue(EncodableMap{{S("path"), S(WindowsPath(path))}}));
    script.Call("thumbnail_channel", "getThumbnail",
                EncodableValue(EncodableMap{{S("path"), S(WindowsPath(path))},
                                            {S("width"), EncodableValue(32)},
                                            {S("height"), EncodableValue(32)},
                                            {S("scale"), EncodableValue(1.0)}}));
  });
  const HostRun& run = roads.run;
  const HostRun& host = roads.host;
  ASSERT_EQ(run.exitCode, 0) << run.err;
  ASSERT_EQ(host.exitCode, 0) << host.err;
  const auto baked = Baked(run.AnswerTo(1));
  ASSERT_EQ(baked.size(), paths.size()) << run.err;

  const std::int64_t millis = *runner::CaptureMillisFromExifText(taken.c_str());
  const char* names[] = {"HEIC", "WebP", "AVIF"};
  for (std::size_t k = 0; k < std::size(photos); ++k) {
    const std::size_t photo = 2 * k;
    const std::size_t reference = photo + 1;
    const auto step = [](std::size_t i, int call) { return 2 + static_cast<int>(i) * 3 + call; };
    for (const std::size_t i : {photo, reference}) {
      EXPECT_TRUE(run.AnswerTo(step(i, 0))->SuccessValue() == EncodableValue(true)) << names[k];
      EXPECT_TRUE(host.AnswerTo(static_cast<int>(i) + 1)->SuccessValue() == EncodableValue(true));
      EXPECT_EQ(baked[i].second, "") << names[k];
    }
    const std::string n = std::to_string(photo);
    const std::string r = std::to_string(reference);
    const std::pair<const char*, double> roads[] = {
        {"baked", Psnr(baked[photo].first, baked[reference].first)},
        {"sheetsmith.exe", Psnr(dir.File("page" + n + ".jpg"), dir.File("page" + r + ".jpg"))},
        {"host composer",
         Psnr(dir.File("host page" + n + ".jpg"), dir.File("host page" + r + ".jpg"))},
        {"thumbnail", Psnr(ThumbnailFile(run.AnswerTo(step(photo, 2)), dir.File("t" + n + ".png")),
                           ThumbnailFile(run.AnswerTo(step(reference, 2)),
                                         dir.File("t" + r + ".png")))}};
    for (const auto& [road, psnr] : roads) {
      std::cout << "PSNR " << names[k] << " " << road << " against its PNG: " << psnr << " dB\n";
      EXPECT_GE(psnr, 40.0) << names[k] << " " << road;
    }
    // The size as displayed, and the capture time the photo's EXIF holds.
    const auto meta = run.AnswerTo(step(photo, 1))->SuccessValue();
    ASSERT_TRUE(meta && meta->Is<EncodableMap>()) << names[k];
    const EncodableMap& answer = meta->Get<EncodableMap>();
    EXPECT_EQ(answer.at(S("width")), EncodableValue(64)) << names[k];
    EXPECT_EQ(answer.at(S("height")), EncodableValue(128)) << names[k];
    ASSERT_TRUE(answer.count(S("capturedAtMillis"))) << names[k];
    EXPECT_EQ(answer.at(S("capturedAtMillis")), EncodableValue(millis)) << names[k];
  }
  // The thumbnail is fitted into the size asked: 16 x 32.
  const auto thumbnail = sheetsmith::LoadRgba(dir.File("t3.png"));
  ASSERT_TRUE(thumbnail);
  EXPECT_EQ(thumbnail->width, 16);
  EXPECT_EQ(thumbnail->height, 32);
  EXPECT_THAT(host.err, HasSubstr("GridComposer - "));
}

// The colour at the middle of an image file, or nothing.
std::optional<std::array<int, 3>> Middle(const std::string& path) {
  const auto image = sheetsmith::LoadRgba(path);
  if (!image) return std::nullopt;
  const std::uint8_t* p = image->At(image->width / 2, image->height / 2);
  return std::array<int, 3>{p[0], p[1], p[2]};
}

// A CMYK JPEG carrying Ghostscript's CMYK profile and a grey JPEG carrying
// a linear grey profile: baked, and on both composers' pages, their colours are
// their profiles' meaning, alike within 2 levels on every road.
TEST(PhotoRoadsTest, CmykAndGreyPhotosHaveTheirProfilesColoursOnEveryRoad) {
  if (!HostAvailable()) GTEST_SKIP() << "KORVELA_WINDOWS_BIN and KORVELA_WINE_RUN are not set";
  testsupport::TempDir dir("korvela ink roads");
  const auto photo = [&](const std::string& name, testsupport::JpegKind kind,
                         const std::string& profile) {
    testsupport::JpegLayout layout;
    layout.kind = kind;
    layout.inksAsGiven = true;
    layout.quality = 100;
    const std::string icc = testsupport::ReadBytes(profile);
    const std::string path = dir.File(name);
    EXPECT_FALSE(icc.empty()) << profile;
    // The CMYK profile takes several APP2 chunks, as a camera's file would.
    constexpr std::size_t kChunk = 60000;
    const int count = static_cast<int>((icc.size() + kChunk - 1) / kChunk);
    std::string segments;
    for (int i = 0; i < count; ++i) {
      segments += testsupport::IccChunkSegment(icc.substr(i * kChunk, kChunk), i + 1, count);
    }
    EXPECT_TRUE(testsupport::WriteBytes(
        path, testsupport::InsertAfterSoi(
                  testsupport::EncodeJpegAs(testsupport::Solid(48, 32, {20, 230, 240}, 250), layout),
                  segments)));
    return path;
  };
  const std::string photos[] = {
      photo("cmyk.jpg", testsupport::JpegKind::kCmyk,
            "/usr/share/color/icc/ghostscript/default_cmyk.icc"),
      photo("grey.jpg", testsupport::JpegKind::kGrey, "/usr/share/color/icc/Gray.icc")};
  const Roads roads = RunRoads({photos[0], photos[1]}, 48, 32, dir);
  const HostRun& run = roads.run;
  const HostRun& host = roads.host;
  ASSERT_EQ(run.exitCode, 0) << run.err;
  ASSERT_EQ(host.exitCode, 0) << host.err;
  const auto baked = Baked(run.AnswerTo(1));
  ASSERT_EQ(baked.size(), 2u) << run.err;
  EXPECT_THAT(host.err, ::testing::Not(HasSubstr("not the file's")));
  for (int i = 0; i < 2; ++i) {
    const std::string n = std::to_string(i);
    const std::optional<std::array<int, 3>> roads[] = {
        Middle(baked[i].first), Middle(dir.File("page" + n + ".jpg")),
        Middle(dir.File("host page" + n + ".jpg"))};
    ASSERT_TRUE(roads[0] && roads[1] && roads[2]) << photos[i] << run.err << host.err;
    std::cout << photos[i] << ": baked " << (*roads[0])[0] << "," << (*roads[0])[1] << ","
              << (*roads[0])[2] << "; page " << (*roads[1])[0] << "," << (*roads[1])[1] << ","
              << (*roads[1])[2] << "; host page " << (*roads[2])[0] << "," << (*roads[2])[1]
              << "," << (*roads[2])[2] << "\n";
    for (int c = 0; c < 3; ++c) {
      EXPECT_LE(std::abs((*roads[0])[c] - (*roads[1])[c]), 2) << photos[i] << " baked, " << c;
      EXPECT_LE(std::abs((*roads[2])[c] - (*roads[1])[c]), 2) << photos[i] << " host, " << c;
    }
  }
  // The linear grey profile's meaning is far lighter than the stored value.
  const auto page = Middle(dir.File("page1.jpg"));
  EXPECT_GT((*page)[0], 60);
}

// A background job with a photo cut short and a missing one tells them in
// its final poll, by their places in "imagePaths", whichever composer made
// the page; the page is still made.
TEST(PhotoRoadsTest, TheFinalPollNamesThePhotosThatCouldNotBeRead) {
  if (!HostAvailable()) GTEST_SKIP() << "KORVELA_WINDOWS_BIN and KORVELA_WINE_RUN are not set";
  testsupport::TempDir dir("korvela unread");
  const std::string good = dir.File("good.jpg");
  const std::string cut = dir.File("cut.jpg");
  ASSERT_TRUE(testsupport::WriteJpeg(good, testsupport::Gradient(60, 40, 3)));
  const std::string whole = testsupport::EncodeJpeg(testsupport::Gradient(60, 40, 4), 90);
  ASSERT_TRUE(testsupport::WriteBytes(cut, whole.substr(0, whole.size() / 2)));
  EncodableValue arguments = GridArguments(good, dir.File("page.jpg"), 180, 40);
  EncodableMap& map = arguments.Get<EncodableMap>();
  map[S("columns")] = EncodableValue(3);
  map[S("imagePaths")] = EncodableValue(EncodableList{
      S(WindowsPath(good)), S(WindowsPath(cut)), S(WindowsPath(dir.File("gone.jpg")))});
  for (const bool composer : {true, false}) {
    HostOptions options;
    if (!composer) options.leaveOut = {"sheetsmith.exe"};
    const HostRun run = RunHost(
        HostScript().Call("printing_channel", "createGridImagesFastAsync", arguments).PollGridJob(1),
        options);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto last = run.answers.back().SuccessValue();
    ASSERT_TRUE(last && last->Is<EncodableMap>()) << run.err;
    const EncodableMap& status = last->Get<EncodableMap>();
    EXPECT_EQ(status.at(S("success")), EncodableValue(true)) << composer;
    EXPECT_EQ(status.at(S("unreadablePhotos")),
              EncodableValue(EncodableList{EncodableValue(1), EncodableValue(2)}))
        << composer << run.err;
    EXPECT_THAT(run.err, HasSubstr("INFO: Photos that could not be read, left white: 1 "));
    EXPECT_TRUE(sheetsmith::LoadRgba(dir.File("page.jpg"))) << composer;
  }
}

}  // namespace
}  // namespace e2e
