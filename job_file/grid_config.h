// The grid job file: the composer's only input. An INI-like UTF-8 text with
// the sections [settings], [images], [frames], [outputs] and [effects],
// written by the desktop host for one composition run.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sheetsmith {

// Per-photo settings. Every default but the viewport and the stroke colour and
// side is also the neutral value that leaves the photo unchanged.
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
  std::uint32_t strokeColor = 0xFFFFFFFFu;  // ARGB; the alpha byte is not used
  bool strokeExternal = true;

  bool operator==(const GridImageEffects&) const = default;
};

// Paths are UTF-8.
struct GridConfig {
  std::vector<std::string> images;
  std::vector<std::string> frames;  // an empty entry: no frame for that photo
  std::vector<std::string> outputs;
  std::vector<GridImageEffects> effects;
  std::int32_t rows = 2;
  std::int32_t cols = 2;
  std::int32_t pageWidth = 1854;
  std::int32_t pageHeight = 2445;
  std::int32_t marginLeft = 18;
  std::int32_t marginRight = 18;
  std::int32_t marginTop = 16;
  std::int32_t marginBottom = 16;
  std::int32_t jpegQuality = 95;
  bool showCutGrid = false;
  double cutGridWidthMm = 0.1;
  std::string cutGridColor = "darkGray";
  double magnetAspectRatio = 0.0;  // 0 or less: the magnet fills its cell
  // Set by the key keepEmptyImageLines=1: from there on an empty line in
  // [images] is a photo with no path, whose cell stays white (without it,
  // empty lines are skipped there as everywhere but in [frames]).
  bool keepEmptyImageLines = false;
  // The colours the pages are made in, by the key colorTarget: "srgb",
  // "adobe_rgb", "no_conversion" or "custom:" and a profile's path, as the
  // host stores the user's choice (ParseColorSelection). A file without the
  // key, from the host or anyone else, gets sRGB pages.
  std::string colorTarget = "srgb";
};

// Effects lines whose index is at or above this are skipped: the list grows to
// the largest index, and no real job has anywhere near this many photos.
inline constexpr int kMaxEffectsIndex = 100000;

// Reads job file text over the values already in `config`. Returns true when
// it holds at least one image and at least one output. A setting whose value
// cannot be read as a number of its type is described in `problems` (when
// given) and leaves the setting as it was; reading goes on.
bool ParseConfigText(std::string_view text, GridConfig& config,
                     std::vector<std::string>* problems = nullptr);

// ParseConfigText on the file at `path`; false when it cannot be read.
bool ParseConfig(const std::string& path, GridConfig& config,
                 std::vector<std::string>* problems = nullptr);

}  // namespace sheetsmith
