// The host's own page composer, used when the page composer program is
// missing or fails. Photos are turned upright by their EXIF orientation,
// fitted whole into equal cells, centred, turned a quarter to the cell's
// orientation, with an optional frame stretched over the cell; their colours
// converted to the request's colour target as the page composer converts
// them, the pages carrying the target as its pages do. It has no cut
// grid, no effects, no zoom or pan and no magnet aspect ratio: those fields
// of the request are not read.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "composer_run.h"
#include "gdiplus_owners.h"
#include "grid_layout.h"
#include "grid_request.h"
#include "imaging/color/color_plan.h"
#include "reader_photos.h"

namespace runner::printing {

struct CellImage {
  GdiplusBitmap bitmap;  // already turned
  bool turned = false;
  sheetsmith::SourceColors colors = sheetsmith::SourceColors::kRgb;  // what the file holds
  // Set when the shared reader read it and its colours went through the
  // ColorStep: whether they were converted from the file's own profile.
  std::optional<bool> tagged;
};

// A photo fitted into its cell: read by the shared reader when it takes the
// file (ReaderTakes), its colours through `colors`, else by GDI+ (then its
// colours are the caller's to convert). Nullopt, with the reader's reason
// in `problem` when it has one, when the photo cannot be read.
std::optional<CellImage> LoadCellImage(const std::string& path, int cellWidth, int cellHeight,
                                       bool cellLandscape, bool cellPortrait,
                                       const ColorStep& colors = nullptr,
                                       sheetsmith::ReadProblem* problem = nullptr);
// A frame stretched over its cell, read as photos are. `colors` (when given)
// is told what the frame's file holds; `tagged`, when the reader read it and
// its colours went through `step`, whether they came from its own profile.
GdiplusBitmap LoadCellFrame(const std::string& path, int cellWidth, int cellHeight, bool turned,
                            sheetsmith::SourceColors* colors = nullptr,
                            const ColorStep& step = nullptr, std::optional<bool>* tagged = nullptr);

// Composes the pages of `onlyPages` (their indices), or every page when it is
// empty, counting the photos loaded and pages saved into `progress`.
GridResult GridComposer(const GridRequest& request, GridProgress& progress,
                        const std::vector<std::size_t>& onlyPages = {});

}  // namespace runner::printing
