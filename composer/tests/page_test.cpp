#include "page.h"

#include <gtest/gtest.h>

namespace sheetsmith {
namespace {

TEST(ColorFromNameTest, ExactNamesOnly) {
  EXPECT_EQ(ColorFromName("black"), (Rgb{0, 0, 0}));
  EXPECT_EQ(ColorFromName("white"), (Rgb{255, 255, 255}));
  EXPECT_EQ(ColorFromName("gray"), (Rgb{128, 128, 128}));
  EXPECT_EQ(ColorFromName("grey"), (Rgb{128, 128, 128}));
  EXPECT_EQ(ColorFromName("lightGray"), (Rgb{192, 192, 192}));
  EXPECT_EQ(ColorFromName("lightGrey"), (Rgb{192, 192, 192}));
  for (const char* other : {"darkGray", "", "Black", "black "}) {
    EXPECT_EQ(ColorFromName(other), (Rgb{64, 64, 64})) << other;
  }
}

TEST(CutGridTest, LineWidthFollowsResolutionWidthAndColour) {
  GridConfig config;  // 2445 high: 450 dpi, 0.1 mm = 1.77
  EXPECT_EQ(CutGridLineWidth(config), 1);
  config.pageHeight = 2400;  // 300 dpi: 1.18
  EXPECT_EQ(CutGridLineWidth(config), 1);
  config.pageHeight = 2445;
  config.cutGridWidthMm = 0.5;  // 8.86
  EXPECT_EQ(CutGridLineWidth(config), 8);
  config.cutGridWidthMm = 0.1;
  config.cutGridColor = "lightGray";  // light one-pixel lines are doubled
  EXPECT_EQ(CutGridLineWidth(config), 2);
  config.cutGridWidthMm = -3;
  EXPECT_EQ(CutGridLineWidth(config), 2);
  config.cutGridColor = "black";
  EXPECT_EQ(CutGridLineWidth(config), 1);
  config.cutGridWidthMm = 1e300;  // wider than the page, still a defined width
  EXPECT_GT(CutGridLineWidth(config), 2445);
}

class DrawCutGridTest : public ::testing::Test {
 protected:
  void Draw() {
    std::string problem;
    ASSERT_TRUE(ComputeGeometry(config, geometry, problem));
    canvas = *MakeImage(config.pageWidth, config.pageHeight, 255);
    DrawCutGrid(canvas, config, geometry);
  }
  bool Painted(int x, int y) const { return canvas.At(x, y)[0] != 255; }

  GridConfig config;
  GridGeometry geometry;
  RgbaImage canvas;
};

TEST_F(DrawCutGridTest, DefaultLinesLieOnCellBoundariesInsideTheUsableArea) {
  Draw();  // cells 909 x 1206 from (18, 16)
  EXPECT_TRUE(Painted(927, 16));
  EXPECT_TRUE(Painted(927, 16 + 2413 - 1));
  EXPECT_FALSE(Painted(927, 15));
  EXPECT_FALSE(Painted(926, 500));
  EXPECT_FALSE(Painted(928, 500));
  EXPECT_EQ(canvas.At(927, 500)[0], 64);
  EXPECT_TRUE(Painted(18, 1222));
  EXPECT_FALSE(Painted(17, 1222));
  EXPECT_FALSE(Painted(18, 16));  // no line along the outer edge
}

TEST_F(DrawCutGridTest, WideAndLightLinesAreCentredOnTheBoundary) {
  config.cutGridColor = "lightGray";
  Draw();
  EXPECT_TRUE(Painted(926, 500));
  EXPECT_TRUE(Painted(927, 500));
  EXPECT_FALSE(Painted(928, 500));
  EXPECT_EQ(canvas.At(926, 500)[0], 192);

  config.cutGridColor = "black";
  config.cutGridWidthMm = 0.5;
  Draw();
  EXPECT_FALSE(Painted(922, 500));
  EXPECT_TRUE(Painted(923, 500));
  EXPECT_TRUE(Painted(930, 500));
  EXPECT_FALSE(Painted(931, 500));
}

TEST_F(DrawCutGridTest, OneCellGridHasNoLinesAndLinesClipAtTheCanvas) {
  config.rows = config.cols = 1;
  Draw();
  for (int y = 0; y < config.pageHeight; y += 7)
    for (int x = 0; x < config.pageWidth; x += 7) ASSERT_FALSE(Painted(x, y));

  config.rows = config.cols = 2;
  config.marginLeft = -400;  // the grid starts off the page
  config.marginTop = -300;
  config.cutGridWidthMm = 100;
  Draw();
  EXPECT_TRUE(Painted(0, 0) || !Painted(0, 0));  // reached without touching memory off the canvas
}

}  // namespace
}  // namespace sheetsmith
