#include "effects.h"

#include <gtest/gtest.h>

#include <cstring>

#include "test_photos.h"

namespace sheetsmith {
namespace {

using testsupport::Solid;

Rgb PixelAfter(Rgb in, void (*change)(GridImageEffects&)) {
  RgbaImage image = Solid(1, 1, in, 77);
  GridImageEffects e;
  change(e);
  ApplyEffects(image, e);
  EXPECT_EQ(image.At(0, 0)[3], 77) << "alpha is never changed";
  return {image.At(0, 0)[0], image.At(0, 0)[1], image.At(0, 0)[2]};
}

TEST(ApplyEffectsTest, NeutralRecordLeavesEveryByte) {
  RgbaImage image = testsupport::Gradient(20, 10, 3);
  const RgbaImage before = *CloneImage(image);
  ApplyEffects(image, GridImageEffects{});
  EXPECT_EQ(0, std::memcmp(image.data(), before.data(), image.ByteCount()));
}

TEST(ApplyEffectsTest, ExposureBrightnessAndContrast) {
  // exposure 1: gain 2^1.5; 50 * 2.828 = 141.4
  EXPECT_EQ(PixelAfter({50, 50, 50}, [](GridImageEffects& e) { e.exposure = 1; }).r, 141);
  // exposure 0: gain 2^-1.5; 200 * 0.3536 = 70.7
  EXPECT_EQ(PixelAfter({200, 200, 200}, [](GridImageEffects& e) { e.exposure = 0; }).r, 70);
  // brightness 0: gain 0, so black at contrast 0
  EXPECT_EQ(PixelAfter({200, 90, 10}, [](GridImageEffects& e) { e.brightness = 0; }),
            (Rgb{0, 0, 0}));
  // contrast -1: k = 0.45, a black pixel becomes 128 * 0.55 = 70.4
  EXPECT_EQ(PixelAfter({0, 0, 0}, [](GridImageEffects& e) { e.contrast = -1; }).r, 70);
  // contrast 1: k = 1.55, 200 -> 72 * 1.55 + 128 = 239.6; black stays black
  EXPECT_EQ(PixelAfter({200, 0, 0}, [](GridImageEffects& e) { e.contrast = 1; }), (Rgb{239, 0, 0}));
}

TEST(ApplyEffectsTest, SaturationGrayscaleAndTemperature) {
  // L of (200, 100, 50) = 124.2
  EXPECT_EQ(PixelAfter({200, 100, 50}, [](GridImageEffects& e) { e.saturation = 0; }),
            (Rgb{124, 124, 124}));
  EXPECT_EQ(PixelAfter({200, 100, 50}, [](GridImageEffects& e) { e.saturation = 1; }),
            (Rgb{255, 75, 0}));
  EXPECT_EQ(PixelAfter({200, 100, 50}, [](GridImageEffects& e) { e.grayscale = 1; }),
            (Rgb{124, 124, 124}));
  EXPECT_EQ(PixelAfter({200, 100, 50},
                       [](GridImageEffects& e) {
                         e.grayscale = -1;
                         e.contrast = 1e-7f;
                       }),
            (Rgb{200, 100, 50}));
  EXPECT_EQ(PixelAfter({101, 101, 101}, [](GridImageEffects& e) { e.temperature = 1; }),
            (Rgb{131, 101, 70}));
  EXPECT_EQ(PixelAfter({101, 101, 101}, [](GridImageEffects& e) { e.temperature = -1; }),
            (Rgb{70, 101, 131}));
}

TEST(SharpenTest, SharpensInnerPixelsFromAnUnchangedCopy) {
  RgbaImage image = Solid(3, 3, {50, 50, 50});
  std::uint8_t* centre = image.At(1, 1);
  centre[0] = centre[1] = centre[2] = 100;
  GridImageEffects e;
  e.sharpness = 1;  // amount 0.5: D = 400 - 200 = 200, 200 * 0.5 + 100
  ApplyEffects(image, e);
  EXPECT_EQ(image.At(1, 1)[0], 200);
  EXPECT_EQ(image.At(0, 1)[0], 50);  // edge kept
  EXPECT_EQ(image.At(1, 1)[3], 255);

  RgbaImage flat = Solid(5, 2, {10, 200, 30});
  flat.At(2, 1)[0] = 90;
  const RgbaImage before = *CloneImage(flat);
  Sharpen(flat, 5);
  EXPECT_EQ(0, std::memcmp(flat.data(), before.data(), flat.ByteCount())) << "2 pixels high";
}

TEST(StrokeTest, WidthAndColour) {
  GridImageEffects e;
  e.stroke = 0.04f;
  EXPECT_EQ(StrokeWidthPixels(e), 0);
  e.stroke = 0.05f;
  EXPECT_EQ(StrokeWidthPixels(e), 1);
  e.stroke = 0.5f;
  EXPECT_EQ(StrokeWidthPixels(e), 10);
  e.strokeScale = 1e30f;
  EXPECT_GT(StrokeWidthPixels(e), 100000);
  e.stroke = -1;
  EXPECT_EQ(StrokeWidthPixels(e), 0);
  EXPECT_EQ(StrokeColor(4278190080u), (Rgb{0, 0, 0}));
  EXPECT_EQ(StrokeColor(0u), (Rgb{0, 0, 0}));
  EXPECT_EQ(StrokeColor(0x00123456u), (Rgb{0x12, 0x34, 0x56}));
}

TEST(StrokeTest, ShrinkInsideScalesThePhotoIntoTheInnerRectangle) {
  RgbaImage image = Solid(100, 60, {200, 10, 10});
  ApplyExternalStroke(image, 10, {0, 0, 255});
  ASSERT_EQ(image.width, 100);
  ASSERT_EQ(image.height, 60);
  EXPECT_EQ(image.At(9, 30)[2], 255);
  EXPECT_EQ(image.At(10, 30)[0], 200);
  EXPECT_EQ(image.At(89, 49)[0], 200);
  EXPECT_EQ(image.At(90, 30)[2], 255);
  EXPECT_EQ(image.At(50, 50)[2], 255);

  // The whole photo shows inside: its left and right halves stay in order.
  RgbaImage halves = testsupport::Quadrants(100, 60);
  ApplyExternalStroke(halves, 10, {0, 0, 0});
  EXPECT_EQ(halves.At(12, 12)[0], 255);  // red corner
  EXPECT_EQ(halves.At(87, 12)[1], 255);  // green corner

  RgbaImage untouched = Solid(100, 60, {1, 2, 3});
  ApplyExternalStroke(untouched, 30, {9, 9, 9});
  EXPECT_EQ(untouched.At(0, 0)[0], 1);
}

TEST(StrokeTest, BorderOverTheEdgePaintsBandsOfTheWidth) {
  RgbaImage image = Solid(100, 60, {200, 10, 10}, 0);
  DrawBorder(image, 10, {0, 0, 255});
  auto painted = [&](int x, int y) { return image.At(x, y)[2] == 255 && image.At(x, y)[3] == 255; };
  EXPECT_TRUE(painted(0, 0));
  EXPECT_TRUE(painted(50, 9));
  EXPECT_TRUE(painted(50, 50));
  EXPECT_TRUE(painted(9, 30));
  EXPECT_TRUE(painted(90, 30));
  EXPECT_FALSE(painted(10, 10));
  EXPECT_FALSE(painted(89, 49));

  RgbaImage small = Solid(6, 4, {1, 1, 1});
  DrawBorder(small, 50, {7, 7, 7});
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 6; ++x) EXPECT_EQ(small.At(x, y)[0], 7);
}

TEST(StrokeTest, ApplyStrokeChoosesBySide) {
  GridImageEffects e;
  e.stroke = 0.5f;
  e.strokeColor = 0xFF00FF00u;
  RgbaImage outside = Solid(100, 60, {200, 10, 10});
  ApplyStroke(outside, e);
  EXPECT_EQ(outside.At(5, 30)[1], 255);
  e.strokeExternal = false;
  RgbaImage inside = Solid(100, 60, {200, 10, 10});
  ApplyStroke(inside, e);
  EXPECT_EQ(inside.At(5, 30)[1], 255);
  EXPECT_EQ(inside.At(10, 30)[0], 200);
}

}  // namespace
}  // namespace sheetsmith
