#include "grid_layout.h"

#include <gtest/gtest.h>

namespace runner::printing {
namespace {

TEST(GridLayoutTest, LandscapePhotoInAPortraitCellIsTurnedAndCentred) {
  // Page 2000 x 3000, margins 100, 3 columns, 4 rows: cells 600 x 700.
  const CellFit fit = FitPhotoToCell(4000, 3000, 600, 700, false, true);
  EXPECT_TRUE(fit.turned);
  EXPECT_EQ(fit.bitmapWidth, 700);  // before the turn
  EXPECT_EQ(fit.bitmapHeight, 525);
  EXPECT_TRUE(fit.useThumbnail);  // 4000 / 700 > 4
  const CellPlacement place = PlaceInCell(525, 700, 600, 700);
  EXPECT_EQ(place.offsetX, 37);
  EXPECT_EQ(600 - place.offsetX - place.width, 38);
  EXPECT_EQ(place.offsetY, 0);
  EXPECT_EQ(place.sourceX, 0);
  EXPECT_EQ(place.height, 700);
}

TEST(GridLayoutTest, SquarePhotosAndSquareCellsAreNeverTurned) {
  EXPECT_FALSE(FitPhotoToCell(3000, 3000, 600, 700, false, true).turned);
  EXPECT_FALSE(FitPhotoToCell(4000, 3000, 600, 600, false, false).turned);
  const CellFit portraitInLandscape = FitPhotoToCell(3000, 4000, 700, 600, true, false);
  EXPECT_TRUE(portraitInLandscape.turned);
  const CellFit small = FitPhotoToCell(600, 400, 600, 700, false, true);
  EXPECT_FALSE(small.useThumbnail);
}

TEST(GridLayoutTest, ABitmapLargerThanItsCellIsCutEquallyOnBothSides) {
  const CellPlacement place = PlaceInCell(700, 800, 600, 700);
  EXPECT_EQ(place.offsetX, 0);
  EXPECT_EQ(place.sourceX, 50);
  EXPECT_EQ(place.sourceY, 50);
  EXPECT_EQ(place.width, 600);
  EXPECT_EQ(place.height, 700);
  const CellPlacement barely = PlaceInCell(600, 701, 600, 700);
  EXPECT_EQ(barely.sourceY, 0);  // half a pixel is not cut
  EXPECT_EQ(barely.height, 700);
}

}  // namespace
}  // namespace runner::printing
