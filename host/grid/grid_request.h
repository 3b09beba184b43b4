// One grid composition as the host hands it on: the photos, pages and
// frames, the grid and page settings, and the per-photo effects.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "job_file/grid_config.h"

namespace runner::printing {

// Per-photo settings of a grid request, 16 fields in this order: the job
// file's record, as it carries them to the composer.
using GridImageEffects = sheetsmith::GridImageEffects;

// Paths and names are UTF-8, exactly as the interface sent them.
struct GridRequest {
  std::vector<std::string> imagePaths;
  std::vector<std::string> outputPaths;
  std::vector<std::string> framePaths;  // may be shorter than imagePaths
  std::int32_t rows = 0;
  std::int32_t columns = 0;
  std::int32_t pageWidth = 0;
  std::int32_t pageHeight = 0;
  std::int32_t marginLeft = 0;
  std::int32_t marginRight = 0;
  std::int32_t marginTop = 0;
  std::int32_t marginBottom = 0;
  std::int32_t jpegQuality = 95;
  bool showCutGrid = false;
  double cutGridWidthMm = 0.1;
  std::string cutGridColor = "darkGray";
  std::vector<GridImageEffects> imageEffects;  // indexed like imagePaths
  double magnetAspectRatio = 0.0;
  // The colour profile selection stored when the request came ("srgb",
  // "adobe_rgb", "no_conversion", "custom:" and a path).
  std::string colorSelection = "srgb";
};

// The outcome of one grid composition. Times in milliseconds; 0 when not
// measured.
struct GridResult {
  bool success = false;
  std::string errorMessage;  // empty on success
  std::int32_t loadTimeMs = 0;
  std::int32_t renderTimeMs = 0;
  std::int32_t totalTimeMs = 0;
  // The photos that could not be read, by their index in "imagePaths",
  // ascending; their magnets stay white.
  std::vector<std::size_t> unreadablePhotos;
};

}  // namespace runner::printing
