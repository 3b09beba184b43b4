// The fallback composer's geometry: how a photo is fitted into its cell and
// where the fitted bitmap is drawn. Pure functions.
#pragma once

#include "grid_request.h"
#include "imaging/color/color_plan.h"

namespace runner::printing {

// The colours a request's pages are made in, by both composers: its stored
// selection with the meaning the composer gives it; `failure` is set when
// the chosen custom profile cannot be used.
sheetsmith::ColorTarget GridColorTarget(const GridRequest& request);

struct CellFit {
  bool turned = false;  // a quarter turn clockwise, to the cell's orientation
  int bitmapWidth = 0;  // the fitted bitmap, before the turn
  int bitmapHeight = 0;
  bool useThumbnail = false;  // draw from the decoder's thumbnail at twice the size
};

// A photo of iw x ih fitted whole into a cell.
CellFit FitPhotoToCell(int iw, int ih, int cellWidth, int cellHeight, bool cellLandscape,
                       bool cellPortrait);

// Where a w x h bitmap goes in its cell: the part (sourceX, sourceY, width,
// height) of it is drawn at (offsetX, offsetY) from the cell's corner, the
// same size; centred, and cut equally on both sides where it is larger.
struct CellPlacement {
  int offsetX = 0;
  int offsetY = 0;
  int sourceX = 0;
  int sourceY = 0;
  int width = 0;
  int height = 0;
};
CellPlacement PlaceInCell(int w, int h, int cellWidth, int cellHeight);

}  // namespace runner::printing
