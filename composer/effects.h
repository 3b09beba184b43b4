// Colour adjustments, sharpening and the border of one photo at magnet size.
// All arithmetic is single precision; results are clamped into 0..255 and
// truncated. None of these changes the image's size.
#pragma once

#include <cstdint>
#include <functional>

#include "imaging/pixels/rgba_image.h"
#include "job_file/grid_config.h"

namespace sheetsmith {

// Exposure, brightness, contrast, saturation, grayscale and temperature, then
// Sharpen when `sharpness` is above 0. Neutral colour fields leave every byte.
void ApplyEffects(RgbaImage& image, const GridImageEffects& effects);

// Four-neighbour Laplacian sharpening of the inner pixels; alpha and the
// outer edge keep their values.
void Sharpen(RgbaImage& image, float amount);

// The border width in pixels: stroke x 20 x strokeScale, truncated (0 when
// there is no border).
int StrokeWidthPixels(const GridImageEffects& effects);

// The border colour from the ARGB value; the alpha byte is not used.
Rgb StrokeColor(std::uint32_t argb);

// Shrinks the photo into the rectangle inside a border of `width` pixels.
void ApplyExternalStroke(RgbaImage& image, int width, Rgb color);

// Paints a border of `width` pixels over the photo's edge.
void DrawBorder(RgbaImage& image, int width, Rgb color);

// The border chosen by the record's fields, when it has one, its colour
// (chosen in sRGB, as every colour of the interface) taken through
// `toTarget` when given: the page's colours.
void ApplyStroke(RgbaImage& image, const GridImageEffects& effects,
                 const std::function<Rgb(Rgb)>& toTarget = nullptr);

// A float converted to a byte: below 0 and NaN give 0, 255 or more gives 255,
// the rest is truncated.
inline std::uint8_t ClampToByte(float value) {
  if (!(value > 0.0f)) return 0;
  if (value >= 255.0f) return 255;
  return static_cast<std::uint8_t>(value);
}

}  // namespace sheetsmith
