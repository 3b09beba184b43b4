#include "placement.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "test_photos.h"

namespace sheetsmith {
namespace {

using testsupport::Quadrants;
using testsupport::Solid;

// Colour names of the four quadrants of testsupport::Quadrants.
char Corner(const std::uint8_t* p) {
  const bool r = p[0] > 160, g = p[1] > 160, b = p[2] > 160;
  if (r && g && !b) return 'Y';
  if (r && !g && !b) return 'R';
  if (!r && g && !b) return 'G';
  if (!r && !g && b) return 'B';
  if (r && g && b) return 'W';
  return '?';
}

// Top-left, top-right, bottom-left, bottom-right of an image region.
std::string Corners(const RgbaImage& image, int x0, int y0, int w, int h) {
  const int inset = 4;
  return {Corner(image.At(x0 + inset, y0 + inset)),
          Corner(image.At(x0 + w - 1 - inset, y0 + inset)),
          Corner(image.At(x0 + inset, y0 + h - 1 - inset)),
          Corner(image.At(x0 + w - 1 - inset, y0 + h - 1 - inset))};
}

TEST(RotateTest, QuarterAndHalfTurns) {
  RgbaImage image = Quadrants(40, 20);
  Rotate90Clockwise(image);
  EXPECT_EQ(image.width, 20);
  EXPECT_EQ(image.height, 40);
  EXPECT_EQ(Corners(image, 0, 0, 20, 40), "BRYG");
  RgbaImage ccw = Quadrants(40, 20);
  Rotate90CounterClockwise(ccw);
  EXPECT_EQ(Corners(ccw, 0, 0, 20, 40), "GYRB");
  RgbaImage half = Quadrants(40, 20);
  Rotate180(half);
  EXPECT_EQ(Corners(half, 0, 0, 40, 20), "YBGR");
  ApplyOrientation(half, 2);  // mirrored orientations are used as decoded
  EXPECT_EQ(Corners(half, 0, 0, 40, 20), "YBGR");
}

TEST(TransformTest, DiagnosticLineShowsEveryField) {
  GridImageEffects e;
  e.scale = 2;
  e.offsetX = 10;
  e.offsetY = -5;
  e.viewportWidth = 150;
  e.viewportHeight = 200;
  EXPECT_EQ(TransformDebugLine(300, 400, e, 300, 400, false),
            "Sheetsmith TRANSFORM DEBUG: imgSize=300x400 cellSize=300x400 vpSize=150x200 "
            "eff.offset=(10,-5) offXY=(10,-5) scaleRatio=2 scaledOff=(20,-10) srcCenter=(170,190) "
            "totalScale=2 wasRotated=0");
  e.viewportWidth = 3;
  e.viewportHeight = 7;
  EXPECT_NE(TransformDebugLine(300, 400, e, 300, 400, true).find("vpSize=7x3"), std::string::npos);
}

TEST(TransformTest, ZoomPanAndWhiteOutside) {
  GridImageEffects e;
  e.viewportWidth = 100;
  e.viewportHeight = 100;

  e.scale = 0.5f;  // the whole photo at half size, white around it
  RgbaImage small = Quadrants(100, 100);
  ApplyTransform(small, e, 100, 100, false);
  EXPECT_EQ(Corner(small.At(5, 5)), 'W');
  EXPECT_EQ(Corner(small.At(30, 30)), 'R');
  EXPECT_EQ(Corner(small.At(70, 70)), 'Y');

  e.scale = 2;  // the middle half, twice as large: the centre stays at the centre
  RgbaImage zoomed = Quadrants(100, 100);
  ApplyTransform(zoomed, e, 100, 100, false);
  EXPECT_EQ(Corners(zoomed, 0, 0, 100, 100), "RGBY");

  e.scale = 1;  // pan by a quarter viewport to the right: the right half fills the left
  e.offsetX = 25;
  RgbaImage panned = Quadrants(100, 100);
  ApplyTransform(panned, e, 100, 100, false);
  EXPECT_EQ(Corner(panned.At(10, 10)), 'R');
  EXPECT_EQ(Corner(panned.At(40, 10)), 'G');
  EXPECT_EQ(Corner(panned.At(90, 10)), 'W');
  EXPECT_EQ(panned.width, 100);
}

TEST(PasteTest, CopiesBytesAsTheyAreAndClipsAtTheCanvas) {
  RgbaImage canvas = Solid(10, 10, {255, 255, 255});
  PastePhoto(canvas, Solid(4, 4, {10, 20, 30}, 0), 2, 8);
  EXPECT_EQ(canvas.At(2, 8)[0], 10);
  EXPECT_EQ(canvas.At(2, 8)[3], 0);  // transparent pixels replace the canvas pixel
  EXPECT_EQ(canvas.At(2, 9)[0], 10);
  PastePhoto(canvas, Solid(4, 4, {1, 1, 1}), 7, 0);  // would pass the right edge: nothing
  EXPECT_EQ(canvas.At(7, 0)[0], 255);
}

TEST(PasteTest, ARegionComesFromItsPlaceInThePhotoAndOnlyFromInsideIt) {
  RgbaImage canvas = Solid(10, 10, {255, 255, 255});
  const RgbaImage photo = Quadrants(8, 8);
  // The 4 x 4 middle: two columns of red and green over two of blue and yellow.
  PasteRegion(canvas, photo, 2, 2, 4, 4, 1, 1);
  EXPECT_EQ(Corner(canvas.At(1, 1)), 'R');
  EXPECT_EQ(Corner(canvas.At(4, 1)), 'G');
  EXPECT_EQ(Corner(canvas.At(1, 4)), 'B');
  EXPECT_EQ(Corner(canvas.At(4, 4)), 'Y');
  EXPECT_EQ(Corner(canvas.At(5, 5)), 'W');
  EXPECT_EQ(Corner(canvas.At(0, 0)), 'W');
  // Parts reaching past the photo are not pasted.
  RgbaImage untouched = Solid(10, 10, {255, 255, 255});
  PasteRegion(untouched, photo, 6, 0, 4, 4, 0, 0);
  PasteRegion(untouched, photo, 0, -1, 4, 4, 0, 0);
  PasteRegion(untouched, photo, 0, 5, 4, 4, 0, 0);
  for (int y = 0; y < 10; ++y) {
    for (int x = 0; x < 10; ++x) EXPECT_EQ(Corner(untouched.At(x, y)), 'W');
  }
}

TEST(FrameTest, BlendsByAlphaAndStaysOnTheCanvas) {
  RgbaImage canvas = Solid(4, 1, {0, 0, 0});
  RgbaImage frame = Solid(4, 1, {255, 255, 255});
  frame.At(0, 0)[3] = 255;
  frame.At(1, 0)[3] = 0;
  frame.At(2, 0)[3] = 128;
  frame.At(3, 0)[3] = 1;
  BlendFrame(canvas, frame, 0, 0);
  EXPECT_EQ(canvas.At(0, 0)[0], 255);
  EXPECT_EQ(canvas.At(1, 0)[0], 0);
  EXPECT_EQ(canvas.At(2, 0)[0], 128);
  EXPECT_EQ(canvas.At(3, 0)[0], 1);
  BlendFrame(canvas, Solid(8, 8, {9, 9, 9}), -3, -3);  // partly off the canvas on every side
  EXPECT_EQ(canvas.At(0, 0)[0], 9);
}

class PlacePhotoTest : public ::testing::Test {
 protected:
  // One portrait magnet of 300 x 400 on a page of the same size.
  void SetUp() override {
    config.rows = 1;
    config.cols = 1;
    config.pageWidth = 300;
    config.pageHeight = 400;
    config.marginLeft = config.marginRight = config.marginTop = config.marginBottom = 0;
    config.outputs = {dir.File("page.jpg")};
    std::string problem;
    ASSERT_TRUE(ComputeGeometry(config, geometry, problem));
    canvas = *MakeImage(300, 400, 255);
  }
  std::string AddPhoto(const std::string& name, const RgbaImage& image, int exif = 0,
                       bool bigEndian = false) {
    const std::string path = dir.File(name);
    EXPECT_TRUE(testsupport::WriteJpeg(path, image, 100, exif, bigEndian));
    config.images.push_back(path);
    return path;
  }
  // A landscape frame for the first photo: opaque black left half,
  // transparent right half.
  std::string AddHalfBlackFrame() {
    RgbaImage frame = Solid(400, 300, {0, 0, 0}, 255);
    for (int y = 0; y < 300; ++y)
      for (int x = 200; x < 400; ++x) frame.At(x, y)[3] = 0;
    const std::string path = dir.File("frame.png");
    EXPECT_TRUE(testsupport::WritePng(path, frame));
    config.frames = {path};
    return path;
  }
  bool Place(std::size_t index) { return PlacePhoto(canvas, index, 0, 0, config, geometry); }

  testsupport::TempDir dir;
  GridConfig config;
  GridGeometry geometry;
  RgbaImage canvas;
};

TEST_F(PlacePhotoTest, LandscapePhotoIsTurnedClockwiseOntoAPortraitMagnet) {
  AddPhoto("landscape.jpg", Quadrants(400, 300));
  ASSERT_TRUE(Place(0));
  EXPECT_EQ(Corners(canvas, 0, 0, 300, 400), "BRYG");
}

TEST_F(PlacePhotoTest, ExifOrientationTurnsUprightFirst) {
  // Pixels stored 400 x 300 with orientation 6 are a 300 x 400 photo: upright,
  // it already fits the portrait magnet and is not turned again.
  for (bool bigEndian : {false, true}) {
    config.images.clear();
    AddPhoto("six.jpg", Quadrants(400, 300), 6, bigEndian);
    ASSERT_TRUE(Place(0));
    EXPECT_EQ(Corners(canvas, 0, 0, 300, 400), "BRYG");
  }
  config.images.clear();
  AddPhoto("eight.jpg", Quadrants(400, 300), 8);
  ASSERT_TRUE(Place(0));
  EXPECT_EQ(Corners(canvas, 0, 0, 300, 400), "GYRB");
  config.images.clear();
  AddPhoto("three.jpg", Quadrants(300, 400), 3);
  ASSERT_TRUE(Place(0));
  EXPECT_EQ(Corners(canvas, 0, 0, 300, 400), "YBGR");
}

TEST_F(PlacePhotoTest, CoverFillsTheMagnetFromTheCentre) {
  // 600 x 400 turned to 400 x 600, scaled by 0.75 to 300 x 450, centre cut.
  AddPhoto("wide.jpg", Quadrants(600, 400));
  ASSERT_TRUE(Place(0));
  EXPECT_EQ(Corners(canvas, 0, 0, 300, 400), "BRYG");
  // A small square photo is scaled up to cover the magnet and not turned.
  config.images.clear();
  AddPhoto("square.jpg", Quadrants(50, 50));
  ASSERT_TRUE(Place(0));
  EXPECT_EQ(Corners(canvas, 0, 0, 300, 400), "RGBY");
}

TEST_F(PlacePhotoTest, ZoomWithoutViewportIsIgnored) {
  AddPhoto("upright.jpg", Quadrants(300, 400));
  GridImageEffects e;
  e.scale = 0.5f;  // no viewport: cut from the centre as if unzoomed
  config.effects = {e};
  ASSERT_TRUE(Place(0));
  EXPECT_EQ(Corners(canvas, 0, 0, 300, 400), "RGBY");
  config.effects[0].viewportWidth = 300;
  config.effects[0].viewportHeight = 400;
  canvas = *MakeImage(300, 400, 255);
  ASSERT_TRUE(Place(0));
  EXPECT_EQ(Corner(canvas.At(5, 5)), 'W');
}

TEST_F(PlacePhotoTest, FrameCoversThePhotoAndIsTurnedWithIt) {
  AddPhoto("landscape.jpg", Quadrants(400, 300));
  AddHalfBlackFrame();
  ASSERT_TRUE(Place(0));
  // Turned clockwise, the frame's opaque left half lies over the top half.
  EXPECT_EQ(canvas.At(150, 50)[0], 0);
  EXPECT_EQ(canvas.At(150, 50)[2], 0);
  EXPECT_EQ(Corner(canvas.At(10, 390)), 'Y');
}

TEST_F(PlacePhotoTest, MissingPhotoLeavesTheCellWhiteAndSkipsItsFrame) {
  config.images = {dir.File("absent.jpg")};
  const std::string framePath = dir.File("frame.png");
  ASSERT_TRUE(testsupport::WritePng(framePath, Solid(10, 10, {0, 0, 0})));
  config.frames = {framePath};
  EXPECT_FALSE(Place(0));
  EXPECT_EQ(canvas.At(150, 200)[0], 255);
}

TEST_F(PlacePhotoTest, TransparentPngPixelsKeepTheirOwnColour) {
  const std::string path = dir.File("clear.png");
  ASSERT_TRUE(testsupport::WritePng(path, Solid(300, 400, {0, 0, 0}, 0)));
  config.images = {path};
  ASSERT_TRUE(Place(0));
  EXPECT_EQ(canvas.At(150, 200)[0], 0);
}

// A prepared photo holds all it needs: its photo and frame files may go
// before it is laid, and it is laid as PlacePhoto lays it.
TEST_F(PlacePhotoTest, APreparedPhotoIsLaidWithoutItsFiles) {
  const std::string path = AddPhoto("landscape.jpg", Quadrants(400, 300));
  const std::string framePath = AddHalfBlackFrame();
  ASSERT_TRUE(Place(0));
  const RgbaImage placed = std::move(canvas);

  std::optional<PreparedPhoto> prepared = PreparePhoto(0, 0, 0, config, geometry);
  ASSERT_TRUE(prepared);
  std::remove(path.c_str());
  std::remove(framePath.c_str());
  canvas = *MakeImage(300, 400, 255);
  PastePrepared(canvas, *prepared);
  EXPECT_EQ(std::memcmp(canvas.data(), placed.data(), canvas.ByteCount()), 0);
  EXPECT_EQ(canvas.At(150, 50)[0], 0);  // the frame
  EXPECT_EQ(Corner(canvas.At(10, 390)), 'Y');
  EXPECT_FALSE(PreparePhoto(0, 0, 0, config, geometry));
}

}  // namespace
}  // namespace sheetsmith
