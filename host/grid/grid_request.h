// One grid composition as the host hands it on: the photos, pages and
// frames, the grid and page settings, and the per-photo effects.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace runner::printing {

// Per-photo settings of a grid request, 16 fields in this order. Defaults are
// the neutral values, except the viewport and the stroke colour and side.
struct GridImageEffects {
  float brightness = 0.5f;
  float contrast = 0.0f;
  float saturation = 0.5f;
  float exposure = 0.5f;
  float grayscale = 0.0f;
  float temperature = 0.0f;
  float sharpness = 0.0f;
  float scale = 1.0f;
  float offsetX = 0.0f;
  float offsetY = 0.0f;
  float viewportWidth = 0.0f;
  float viewportHeight = 0.0f;
  float stroke = 0.0f;
  float strokeScale = 1.0f;
  std::uint32_t strokeColor = 0xFFFFFFFFu;  // ARGB
  bool strokeExternal = true;

  bool operator==(const GridImageEffects&) const = default;
};

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
};

}  // namespace runner::printing
