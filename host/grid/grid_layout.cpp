// The fallback composer's fit and placement of a photo in its cell.
#include "grid_layout.h"

#include <algorithm>

#include "imaging/system/file_io.h"

namespace runner::printing {

sheetsmith::ColorTarget GridColorTarget(const GridRequest& request) {
  return sheetsmith::ResolveColorTarget(
      sheetsmith::ParseColorSelection(request.colorSelection), [](const std::string& path) {
        return sheetsmith::ReadFilePrefix(path, sheetsmith::kMaxProfileBytes + 1);
      });
}

CellFit FitPhotoToCell(int iw, int ih, int cellWidth, int cellHeight, bool cellLandscape,
                       bool cellPortrait) {
  CellFit fit;
  if (iw <= 0 || ih <= 0) return fit;
  fit.turned = (cellLandscape && ih > iw) || (cellPortrait && iw > ih);
  const int ew = fit.turned ? ih : iw;
  const int eh = fit.turned ? iw : ih;
  const double f =
      std::min(static_cast<double>(cellWidth) / ew, static_cast<double>(cellHeight) / eh);
  const int tw = static_cast<int>(f * ew);
  const int th = static_cast<int>(f * eh);
  fit.bitmapWidth = fit.turned ? th : tw;
  fit.bitmapHeight = fit.turned ? tw : th;
  fit.useThumbnail = fit.bitmapWidth > 0 && static_cast<double>(iw) / fit.bitmapWidth > 4.0;
  return fit;
}

CellPlacement PlaceInCell(int w, int h, int cellWidth, int cellHeight) {
  CellPlacement placement;
  const int dx = (cellWidth - w) / 2;
  const int dy = (cellHeight - h) / 2;
  placement.sourceX = std::max((w - cellWidth) / 2, 0);
  const int sy = (h - cellHeight) / 2;
  placement.sourceY = sy < 1 ? 0 : sy;
  placement.offsetX = std::max(dx, 0);
  placement.offsetY = std::max(dy, 0);
  placement.width = std::min(cellWidth - placement.offsetX, w - placement.sourceX);
  placement.height = std::min(cellHeight - placement.offsetY, h - placement.sourceY);
  return placement;
}

}  // namespace runner::printing
