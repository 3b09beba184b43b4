// Faces, thumbnails and photo metadata through Korvela.exe under Wine. Wine
// has none of the Windows Runtime classes face detection uses; the tests
// that need them register a stand-in of ours in the test prefix for their
// run only.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>

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

EncodableValue Paths(const std::vector<std::string>& paths) {
  EncodableList list;
  for (const std::string& path : paths) list.push_back(S(path));
  return EncodableValue(EncodableMap{{S("imagePaths"), EncodableValue(list)}});
}

struct Face {
  double left, top, width, height;
};
struct Entry {
  std::string path;
  std::vector<Face> faces;
  std::string debugInfo;
};

std::vector<Entry> Entries(const EncodableValue& answer) {
  std::vector<Entry> entries;
  for (const EncodableValue& item : answer.Get<EncodableList>()) {
    const auto& map = item.Get<EncodableMap>();
    Entry entry;
    entry.path = map.at(S("imagePath")).Get<std::string>();
    entry.debugInfo = map.at(S("debugInfo")).Get<std::string>();
    for (const EncodableValue& face : map.at(S("faces")).Get<EncodableList>()) {
      const auto& box = face.Get<EncodableMap>();
      entry.faces.push_back({box.at(S("left")).Get<double>(), box.at(S("top")).Get<double>(),
                             box.at(S("width")).Get<double>(), box.at(S("height")).Get<double>()});
    }
    entries.push_back(entry);
  }
  return entries;
}

class AnalysisTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HostAvailable()) GTEST_SKIP() << "KORVELA_WINDOWS_BIN and KORVELA_WINE_RUN are not set";
  }
  std::string Photo(const std::string& name, int width, int height, int exif = 0) {
    const std::string path = dir.File(name);
    EXPECT_TRUE(
        testsupport::WriteJpeg(path, testsupport::Solid(width, height, {90, 120, 150}), 80, exif));
    return path;
  }
  // Faces described for the stand-in detector, in oriented pixels.
  static void Describe(const std::string& photo, const std::vector<Face>& faces) {
    std::ofstream description(testsupport::PathFromUtf8(photo + ".faces"));
    for (const Face& f : faces) {
      description << f.left << " " << f.top << " " << f.width << " " << f.height << "\n";
    }
  }
  testsupport::TempDir dir{"korvela faces \xD7\xA4"};
};

TEST_F(AnalysisTest, WithoutTheRuntimeEveryPathAnswersDetectorCreateFailed) {
  const std::string a = Photo("a.jpg", 300, 200);
  const ScopedEnvironment debugger{{"WINEDEBUG", "warn+debugstr"}};
  EncodableList mixed = {S(WindowsPath(a)), EncodableValue(5), S("C:\\no\\such.jpg")};
  const HostRun run = RunHost(
      HostScript()
          .Call("face_rects_channel", "detectFacesWindows",
                EncodableValue(EncodableMap{{S("imagePaths"), EncodableValue(mixed)}}))
          .Call("face_rects_channel", "detectFacesWindows", Paths({}))
          .Call("face_rects_channel", "detectFacesWindows", S("not a map"))
          .Call("face_rects_channel", "detectFacesWindows", EncodableValue(EncodableMap{})));
  ASSERT_EQ(run.exitCode, 0) << run.err;
  ASSERT_EQ(run.answers.size(), 4u) << run.err;
  const std::vector<Entry> entries = Entries(*run.AnswerTo(1)->SuccessValue());
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].path, WindowsPath(a));
  EXPECT_EQ(entries[1].path, "C:\\no\\such.jpg");
  for (const Entry& entry : entries) {
    EXPECT_TRUE(entry.faces.empty());
    EXPECT_EQ(entry.debugInfo, "FD: detector_create_failed");
  }
  EXPECT_EQ(run.AnswerTo(2)->SuccessValue(), EncodableValue(EncodableList{}));
  EXPECT_EQ(run.AnswerTo(3)->SuccessValue(), EncodableValue());
  EXPECT_EQ(run.AnswerTo(4)->SuccessValue(), EncodableValue(EncodableList{}));
  // The worker's lines, in order, on the debugger output.
  std::size_t at = 0;
  for (const std::string line :
       {"FD: channel detectFacesWindows, paths=2 first=\\\"",
        "FD: Worker thread started, hwnd=", "FD: winrt::init_apartment succeeded",
        "FD: IsSupported check threw", "FD: detector CreateAsync failed: HRESULT=0x80040154",
        "FD: Sending result with 2 entries to UI thread", "FD: PostMessage succeeded"}) {
    const std::size_t found = run.err.find(line, at);
    EXPECT_NE(found, std::string::npos) << line;
    if (found != std::string::npos) at = found;
  }
}

TEST_F(AnalysisTest, ThumbnailsArePngFilesOfTheSizeAsked) {
  const std::string photo = Photo("thumb.jpg", 640, 480);
  auto call = [&](EncodableMap arguments) { return EncodableValue(std::move(arguments)); };
  const EncodableMap good{{S("path"), S(WindowsPath(photo))},
                          {S("width"), EncodableValue(200)},
                          {S("height"), EncodableValue(150)},
                          {S("scale"), EncodableValue(1.5)}};
  EncodableMap missing = good;
  missing[S("path")] = S(WindowsPath(dir.File("gone.jpg")));
  EncodableMap noWidth = good;
  noWidth[S("width")] = EncodableValue(0);
  EncodableMap badScale = good;
  badScale[S("scale")] = EncodableValue(std::nan(""));
  const HostRun run = RunHost(HostScript()
                                  .Call("thumbnail_channel", "getThumbnail", call(good))
                                  .Call("thumbnail_channel", "getThumbnail", call(missing))
                                  .Call("thumbnail_channel", "getThumbnail", call(noWidth))
                                  .Call("thumbnail_channel", "getThumbnail", call(badScale))
                                  .Call("thumbnail_channel", "getThumbnails", call(good)));
  ASSERT_EQ(run.exitCode, 0) << run.err;
  ASSERT_EQ(run.answers.size(), 5u);
  const auto png = run.AnswerTo(1)->SuccessValue();
  ASSERT_TRUE(png && png->Is<std::vector<std::uint8_t>>()) << run.err;
  const auto& bytes = png->Get<std::vector<std::uint8_t>>();
  const std::string file = dir.File("thumbnail.png");
  ASSERT_TRUE(testsupport::WriteBytes(file, std::string(bytes.begin(), bytes.end())));
  // Wine's shell hands out a 1 x 1 bitmap for every file, which is no
  // thumbnail: the reader makes it, fitted into the size asked at the
  // scale, and the PNG is a whole file (nothing past its end).
  const auto image = sheetsmith::LoadRgba(file);
  ASSERT_TRUE(image);
  EXPECT_EQ(image->width, 300);
  EXPECT_EQ(image->height, 225);
  const std::uint8_t* middle = image->At(150, 112);
  EXPECT_NEAR(middle[0], 90, 3);
  EXPECT_NEAR(middle[1], 120, 3);
  EXPECT_NEAR(middle[2], 150, 3);
  const std::string tail(bytes.end() - 8, bytes.end());
  EXPECT_EQ(tail, std::string("IEND\xAE\x42\x60\x82", 8));
  for (int step = 2; step <= 4; ++step) {
    EXPECT_EQ(run.AnswerTo(step)->SuccessValue(), EncodableValue()) << step;
  }
  EXPECT_TRUE(run.AnswerTo(5)->NotImplemented());
}

TEST_F(AnalysisTest, QuickMetadataGivesTheFirstFramesSize) {
  const std::string jpeg = Photo("meta.jpg", 400, 300);
  const std::string png = dir.File("meta.png");
  ASSERT_TRUE(testsupport::WritePng(png, testsupport::Solid(120, 90, {1, 2, 3})));
  const std::string text = dir.File("not a photo.jpg");
  ASSERT_TRUE(testsupport::WriteBytes(text, "hello"));
  auto meta = [](const std::string& path) {
    return EncodableValue(EncodableMap{{S("path"), S(path)}});
  };
  const HostRun run = RunHost(
      HostScript()
          .Call("media_info_channel", "getQuickMeta", meta(WindowsPath(jpeg)))
          .Call("media_info_channel", "getQuickMeta", meta(WindowsPath(png)))
          .Call("media_info_channel", "getQuickMeta", meta(WindowsPath(text)))
          .Call("media_info_channel", "getQuickMeta", meta(""))
          .Call("media_info_channel", "getQuickMeta", meta(WindowsPath(dir.File("gone.jpg")))));
  ASSERT_EQ(run.exitCode, 0) << run.err;
  ASSERT_EQ(run.answers.size(), 5u);
  EXPECT_EQ(run.AnswerTo(1)->SuccessValue(),
            EncodableValue(EncodableMap{{S("width"), EncodableValue(400)},
                                        {S("height"), EncodableValue(300)}}));
  EXPECT_EQ(run.AnswerTo(2)->SuccessValue(),
            EncodableValue(EncodableMap{{S("width"), EncodableValue(120)},
                                        {S("height"), EncodableValue(90)}}));
  for (int step = 3; step <= 5; ++step) {
    EXPECT_EQ(run.AnswerTo(step)->SuccessValue(), EncodableValue()) << step;
  }
}

// With the stand-in runtime registered in the prefix for the test's runs.
class FacesWithRuntimeTest : public AnalysisTest {
 protected:
  void SetUp() override {
    AnalysisTest::SetUp();
    if (IsSkipped()) return;
    const std::string dll =
        WindowsPath(std::string(std::getenv("KORVELA_WINDOWS_BIN")) + "/winrt_faces_standin.dll");
    for (const char* name : kClasses) {
      ASSERT_EQ(RunWineProgram(
                    {"reg", "add", Key(name), "/v", "DllPath", "/t", "REG_SZ", "/d", dll, "/f"}),
                0);
    }
  }
  void TearDown() override {
    if (IsSkipped()) return;
    for (const char* name : kClasses) RunWineProgram({"reg", "delete", Key(name), "/f"});
  }
  static std::string Key(const char* name) {
    return std::string("HKLM\\Software\\Microsoft\\WindowsRuntime\\ActivatableClassId\\") + name;
  }
  static constexpr const char* kClasses[] = {
      "Windows.Media.FaceAnalysis.FaceDetector", "Windows.Storage.StorageFile",
      "Windows.Graphics.Imaging.BitmapDecoder", "Windows.Graphics.Imaging.BitmapTransform",
      "Windows.Graphics.Imaging.SoftwareBitmap"};
};

void ExpectFace(const Face& found, const Face& described, double tolerance) {
  EXPECT_NEAR(found.left, described.left, tolerance);
  EXPECT_NEAR(found.top, described.top, tolerance);
  EXPECT_NEAR(found.width, described.width, tolerance);
  EXPECT_NEAR(found.height, described.height, tolerance);
}

TEST_F(FacesWithRuntimeTest, LargePhotosAreDecodedSmallerAndBoxesComeBackInOrientedPixels) {
  // Stored as shown, larger than the limit.
  const std::string wide = Photo("wide.jpg", 6000, 4000);
  Describe(wide, {{600, 400, 900, 1200}, {4000, 2000, 1500, 1500}});
  // Stored sideways with orientation 6: 4000 x 6000 as shown.
  const std::string sideways = Photo("sideways.jpg", 6000, 4000, 6);
  Describe(sideways, {{300, 4500, 1200, 900}});
  // At the limit, and one pixel past it.
  const std::string limit = Photo("limit.jpg", 4096, 3000);
  Describe(limit, {{100, 100, 409, 300}});
  const std::string past = Photo("past.jpg", 4097, 3000);
  Describe(past, {{4000, 2900, 97, 100}});
  const HostRun run = RunHost(HostScript().Call(
      "face_rects_channel", "detectFacesWindows",
      Paths({WindowsPath(wide), WindowsPath(sideways), WindowsPath(limit), WindowsPath(past)})));
  ASSERT_EQ(run.exitCode, 0) << run.err;
  ASSERT_EQ(run.answers.size(), 1u);
  const std::vector<Entry> entries = Entries(*run.answers[0].SuccessValue());
  ASSERT_EQ(entries.size(), 4u);

  EXPECT_EQ(entries[0].debugInfo, "FD: ori=6000x4000 scaled=4096x2731 faces=2\n");
  ASSERT_EQ(entries[0].faces.size(), 2u);
  ExpectFace(entries[0].faces[0], {600, 400, 900, 1200}, 1.5);
  ExpectFace(entries[0].faces[1], {4000, 2000, 1500, 1500}, 1.5);

  // The transform is asked in stored space; the bitmap comes back upright.
  EXPECT_EQ(entries[1].debugInfo, "FD: ori=4000x6000 scaled=2731x4096 faces=1\n");
  ASSERT_EQ(entries[1].faces.size(), 1u);
  ExpectFace(entries[1].faces[0], {300, 4500, 1200, 900}, 1.5);

  EXPECT_EQ(entries[2].debugInfo, "FD: ori=4096x3000 scaled=4096x3000 faces=1\n");
  ASSERT_EQ(entries[2].faces.size(), 1u);
  ExpectFace(entries[2].faces[0], {100, 100, 409, 300}, 0.0);  // not scaled at all

  EXPECT_EQ(entries[3].debugInfo, "FD: ori=4097x3000 scaled=4096x2999 faces=1\n");
  ASSERT_EQ(entries[3].faces.size(), 1u);
  // Found at 4096 x 2999 and multiplied back by 4097/4096 and 3000/2999.
  EXPECT_DOUBLE_EQ(entries[3].faces[0].left, std::lround(4000 * 4096.0 / 4097) * 4097.0 / 4096);
  EXPECT_DOUBLE_EQ(entries[3].faces[0].top, std::lround(2900 * 2999.0 / 3000) * 3000.0 / 2999);
}

// A WebP photo, which no Windows codec here decodes, is read by the photo
// reader and given to the detector as a grey bitmap of its pixels: the face
// is found where the photo holds it.
TEST_F(FacesWithRuntimeTest, APhotoTheRuntimeCannotDecodeIsGivenAsTheReadersPixels) {
  RgbaImage picture = testsupport::Solid(600, 400, {250, 250, 250});
  for (int y = 50; y < 140; ++y) {
    for (int x = 100; x < 220; ++x) std::fill_n(picture.At(x, y), 3, std::uint8_t{10});
  }
  const std::string png = dir.File("face.png");
  const std::string webp = dir.File("face.webp");
  ASSERT_TRUE(testsupport::WritePng(png, picture));
  ASSERT_EQ(std::system(("cwebp -quiet -lossless '" + png + "' -o '" + webp + "'").c_str()), 0);
  const HostRun run = RunHost(
      HostScript().Call("face_rects_channel", "detectFacesWindows", Paths({WindowsPath(webp)})));
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const std::vector<Entry> entries = Entries(*run.answers.at(0).SuccessValue());
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].debugInfo, "FD: ori=600x400 scaled=600x400 faces=1\n");
  ASSERT_EQ(entries[0].faces.size(), 1u);
  ExpectFace(entries[0].faces[0], {100, 50, 120, 90}, 0.0);
}

TEST_F(FacesWithRuntimeTest, AFaceTooSmallInTheReducedPhotoIsFoundAtFullSize) {
  const std::string photo = Photo("small face.jpg", 8000, 3000);
  // 30 pixels wide: 15 in the reduced bitmap, below what the detector sees.
  Describe(photo, {{5000, 1000, 30, 40}});
  const HostRun run = RunHost(
      HostScript().Call("face_rects_channel", "detectFacesWindows", Paths({WindowsPath(photo)})));
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const std::vector<Entry> entries = Entries(*run.answers.at(0).SuccessValue());
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].debugInfo, "FD: ori=8000x3000 scaled=4096x1536 faces=1\n");
  ASSERT_EQ(entries[0].faces.size(), 1u);
  ExpectFace(entries[0].faces[0], {5000, 1000, 30, 40}, 0.0);  // full size: not scaled
}

TEST_F(FacesWithRuntimeTest, EachPhotoFailsAloneAndManyPathsAndCallsAreAnswered) {
  const std::string good = Photo("good.jpg", 800, 600);
  Describe(good, {{100, 100, 200, 200}});
  const std::string broken = dir.File("broken.jpg");
  ASSERT_TRUE(testsupport::WriteBytes(broken, "not a photo at all"));
  const std::string missing = dir.File("missing.jpg");
  std::vector<std::string> first = {WindowsPath(good), WindowsPath(broken), WindowsPath(missing),
                                    "\\\\?\\" + WindowsPath(good)};
  std::vector<std::string> second;
  for (int i = 0; i < 12; ++i) second.push_back(WindowsPath(good));
  const ScopedEnvironment debugger{{"WINEDEBUG", "warn+debugstr"}};
  const HostRun run = RunHost(HostScript()
                                  .Send("face_rects_channel", "detectFacesWindows", Paths(first))
                                  .Send("face_rects_channel", "detectFacesWindows", Paths(second))
                                  .WaitAnswers());
  ASSERT_EQ(run.exitCode, 0) << run.err;
  ASSERT_EQ(run.answers.size(), 2u) << run.err;
  const std::vector<Entry> one = Entries(*run.AnswerTo(1)->SuccessValue());
  ASSERT_EQ(one.size(), 4u);
  EXPECT_EQ(one[0].faces.size(), 1u);
  EXPECT_EQ(one[1].debugInfo, "FD: decode_failed");
  EXPECT_TRUE(one[1].faces.empty());
  EXPECT_EQ(one[2].debugInfo, "FD: file_open_failed");
  EXPECT_EQ(one[3].path, "\\\\?\\" + WindowsPath(good));  // answered as it arrived
  EXPECT_EQ(one[3].faces.size(), 1u);                     // opened without the prefix
  const std::vector<Entry> two = Entries(*run.AnswerTo(2)->SuccessValue());
  ASSERT_EQ(two.size(), 12u);
  for (const Entry& entry : two) {
    ASSERT_EQ(entry.faces.size(), 1u);
    ExpectFace(entry.faces[0], {100, 100, 200, 200}, 0.0);
  }
  EXPECT_THAT(run.err, HasSubstr("FD: failed to open file: HRESULT=0x80070002"));
}

TEST_F(FacesWithRuntimeTest, AWorkerStillRunningWhenTheWindowClosesEndsCleanly) {
  std::vector<std::string> paths;
  // The detector takes 2.5 s: longer than the window takes to close,
  // shorter than the host waits for workers.
  const std::string slow = Photo("slow.jpg", 800, 600);
  std::ofstream(testsupport::PathFromUtf8(slow + ".faces")) << "takes 2500\n";
  paths.push_back(WindowsPath(slow));
  // The script sends the call and closes the window at once.
  const HostRun run =
      RunHost(HostScript().Send("face_rects_channel", "detectFacesWindows", Paths(paths)));
  EXPECT_EQ(run.exitCode, 0) << run.err;
  // The host waited for the worker, which finished: its answer went to an
  // engine that was gone, and nothing was left unanswered.
  EXPECT_THAT(run.err, HasSubstr("INFO: Waiting for 1 call(s) still at work"));
  EXPECT_THAT(run.err, ::testing::Not(HasSubstr("Abandoning")));
  EXPECT_THAT(run.err, ::testing::Not(HasSubstr("This is a memory leak")));
  EXPECT_EQ(run.Find("answer 1 "), -1);
}

}  // namespace
}  // namespace e2e
