#include "geometry.h"

#include <gtest/gtest.h>

namespace sheetsmith {
namespace {

GridGeometry Geometry(const GridConfig& config) {
  GridGeometry g;
  std::string problem;
  EXPECT_TRUE(ComputeGeometry(config, g, problem)) << problem;
  return g;
}

TEST(GeometryTest, DefaultPageMakesPortraitMagnetsFillingTheirCells) {
  GridConfig config;
  const GridGeometry g = Geometry(config);
  EXPECT_EQ(g.usableWidth, 1818);
  EXPECT_EQ(g.usableHeight, 2413);
  EXPECT_EQ(g.cellWidth, 909);
  EXPECT_EQ(g.cellHeight, 1206);
  EXPECT_EQ(g.magnetWidth, 909);
  EXPECT_EQ(g.magnetHeight, 1206);
  EXPECT_TRUE(g.portrait);
  EXPECT_FALSE(g.landscape);
  EXPECT_EQ(g.cellsPerPage, 4);
  const Point origin = MagnetOrigin(config, g, 1, 1);
  EXPECT_EQ(origin.x, 927);
  EXPECT_EQ(origin.y, 1222);
}

TEST(GeometryTest, AspectRatioNarrowsTheMagnetAndCentresIt) {
  GridConfig square;
  square.magnetAspectRatio = 1;
  const GridGeometry s = Geometry(square);
  EXPECT_EQ(s.magnetWidth, 909);
  EXPECT_EQ(s.magnetHeight, 909);
  EXPECT_FALSE(s.portrait);
  EXPECT_FALSE(s.landscape);
  EXPECT_EQ(MagnetOrigin(square, s, 1, 0).y, 1370);

  GridConfig narrow;
  narrow.magnetAspectRatio = 0.75;
  const GridGeometry n = Geometry(narrow);
  EXPECT_EQ(n.magnetWidth, 904);
  EXPECT_EQ(n.magnetHeight, 1206);
  EXPECT_EQ(MagnetOrigin(narrow, n, 0, 0).x, 20);

  GridConfig wide;
  wide.magnetAspectRatio = 1.5;
  const GridGeometry w = Geometry(wide);
  EXPECT_EQ(w.magnetWidth, 909);
  EXPECT_EQ(w.magnetHeight, 606);
  EXPECT_TRUE(w.landscape);
}

TEST(GeometryTest, SettingsThatMakeNoGridAreRejectedWithAReason) {
  struct Case {
    const char* name;
    void (*change)(GridConfig&);
  };
  const Case cases[] = {
      {"no rows", [](GridConfig& c) { c.rows = 0; }},
      {"negative cols", [](GridConfig& c) { c.cols = -3; }},
      {"no page", [](GridConfig& c) { c.pageWidth = 0; }},
      {"margins eat the page",
       [](GridConfig& c) {
         c.marginLeft = 1000;
         c.marginRight = 1000;
       }},
      {"more columns than pixels", [](GridConfig& c) { c.cols = 5000; }},
      {"huge margins overflow",
       [](GridConfig& c) {
         c.marginTop = -2147483647;
         c.marginBottom = -2147483647;
       }},
      {"vanishing magnet", [](GridConfig& c) { c.magnetAspectRatio = 1e-9; }},
  };
  for (const Case& test : cases) {
    GridConfig config;
    test.change(config);
    GridGeometry g;
    std::string problem;
    EXPECT_FALSE(ComputeGeometry(config, g, problem)) << test.name;
    EXPECT_FALSE(problem.empty()) << test.name;
  }
}

}  // namespace
}  // namespace sheetsmith
