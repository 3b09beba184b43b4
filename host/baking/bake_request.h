// One photo to bake into a print-ready JPEG, and the outcome.
#pragma once

#include <cstdint>
#include <string>

namespace runner {

// Effect values of a bake request. Only the stroke fields change the baked
// pixels; the tone and colour values travel with the request.
struct BakeEffects {
  float exposure = 0.5f;
  float brightness = 0.5f;
  float contrast = 0.5f;
  float saturation = 0.5f;
  float grayscale = 0.0f;
  float hue = 0.5f;
  float temperature = 0.5f;
  float blur = 0.0f;
  float sharpness = 0.5f;
  float stroke = 0.0f;
  bool strokeExternal = false;
  std::uint32_t strokeColor = 0xFF000000u;  // 0xAARRGGBB
  float strokeScale = 1.0f;
};

// Paths are UTF-8 here and widened where a file is opened.
struct BakeRequest {
  std::string sourcePath;
  std::string framePath;  // empty: no frame
  std::int32_t canvasWidth = 0;
  std::int32_t canvasHeight = 0;
  double imageScale = 1.0;
  double offsetX = 0.0;  // canvas pixels, to the right
  double offsetY = 0.0;  // canvas pixels, downwards
  bool rotateForOutput = false;
  BakeEffects effects;
};

struct BakeResult {
  std::string bakedPath;  // UTF-8
  bool success = false;
  std::string error;
  std::int32_t index = -1;
};

}  // namespace runner
