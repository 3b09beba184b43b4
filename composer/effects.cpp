// The colour effects, sharpening and borders, as single-precision arithmetic
// over each pixel.
#include "effects.h"

#include <algorithm>
#include <cmath>

namespace sheetsmith {

void ApplyEffects(RgbaImage& image, const GridImageEffects& e) {
  if (e.brightness == 0.5f && e.contrast == 0.0f && e.saturation == 0.5f && e.exposure == 0.5f &&
      e.grayscale == 0.0f && e.temperature == 0.0f && e.sharpness == 0.0f) {
    return;
  }
  if (image.empty()) return;

  const float gain = std::pow(2.0f, (e.exposure - 0.5f) * 3.0f) * (2.0f * e.brightness);
  const float k = 1.0f + 0.55f * e.contrast;
  const float s = 2.0f * e.saturation;
  const float t = 0.3f * e.temperature;
  const float g = e.grayscale;
  const bool saturate = s != 1.0f;
  const bool gray = g > 0.0f;
  const bool warm = e.temperature != 0.0f;

  std::uint8_t* p = image.data();
  const std::size_t count = static_cast<std::size_t>(image.width) * image.height;
  for (std::size_t i = 0; i < count; ++i, p += 4) {
    float r = (p[0] * gain - 128.0f) * k + 128.0f;
    float gr = (p[1] * gain - 128.0f) * k + 128.0f;
    float b = (p[2] * gain - 128.0f) * k + 128.0f;
    if (saturate) {
      const float l = 0.299f * r + 0.587f * gr + 0.114f * b;
      r = (r - l) * s + l;
      gr = (gr - l) * s + l;
      b = (b - l) * s + l;
    }
    if (gray) {
      const float m = (0.299f * r + 0.587f * gr + 0.114f * b) * g;
      r = r * (1.0f - g) + m;
      gr = gr * (1.0f - g) + m;
      b = b * (1.0f - g) + m;
    }
    if (warm) {
      r = r * (1.0f + t);
      b = b * (1.0f - t);
    }
    p[0] = ClampToByte(r);
    p[1] = ClampToByte(gr);
    p[2] = ClampToByte(b);
  }

  if (e.sharpness > 0.0f) Sharpen(image, 0.5f * e.sharpness);
}

void Sharpen(RgbaImage& image, float amount) {
  if (image.width < 3 || image.height < 3) return;
  const std::optional<RgbaImage> copy = CloneImage(image);
  if (!copy) return;
  for (int y = 1; y <= image.height - 2; ++y) {
    for (int x = 1; x <= image.width - 2; ++x) {
      const std::uint8_t* c = copy->At(x, y);
      const std::uint8_t* up = copy->At(x, y - 1);
      const std::uint8_t* down = copy->At(x, y + 1);
      const std::uint8_t* left = copy->At(x - 1, y);
      const std::uint8_t* right = copy->At(x + 1, y);
      std::uint8_t* out = image.At(x, y);
      for (int ch = 0; ch < 3; ++ch) {
        const int d = 4 * c[ch] - up[ch] - down[ch] - left[ch] - right[ch];
        out[ch] = ClampToByte(static_cast<float>(d) * amount + c[ch]);
      }
    }
  }
}

int StrokeWidthPixels(const GridImageEffects& e) {
  if (!(e.stroke > 0.0f)) return 0;
  const float width = e.stroke * 20.0f * e.strokeScale;
  // Widths beyond any image are the same as the widest border; the clamp keeps
  // the conversion defined for huge and NaN products.
  if (!(width > 0.0f)) return 0;
  if (width >= 1073741824.0f) return 1073741824;
  return static_cast<int>(width);
}

Rgb StrokeColor(std::uint32_t argb) {
  return {static_cast<std::uint8_t>((argb >> 16) & 0xFF),
          static_cast<std::uint8_t>((argb >> 8) & 0xFF), static_cast<std::uint8_t>(argb & 0xFF)};
}

void ApplyExternalStroke(RgbaImage& image, int n, Rgb color) {
  const int w = image.width;
  const int h = image.height;
  if (n <= 0 || image.empty()) return;
  if (2LL * n >= w || 2LL * n >= h) return;
  std::optional<RgbaImage> framed = MakeImage(w, h, 255);
  if (!framed) return;
  std::uint8_t* q = framed->data();
  for (std::size_t i = 0, count = static_cast<std::size_t>(w) * h; i < count; ++i, q += 4) {
    q[0] = color.r;
    q[1] = color.g;
    q[2] = color.b;
  }
  const int innerW = w - 2 * n;
  const int innerH = h - 2 * n;
  const float stepY = static_cast<float>(h) / static_cast<float>(innerH);
  const float stepX = static_cast<float>(w) / static_cast<float>(innerW);
  for (int i = 0; i < innerH; ++i) {
    const float sy = static_cast<float>(i) * stepY;
    const int y0 = std::min(static_cast<int>(sy), h - 1);
    const int y1 = std::min(y0 + 1, h - 1);
    const float fy = sy - static_cast<float>(y0);
    for (int j = 0; j < innerW; ++j) {
      const float sx = static_cast<float>(j) * stepX;
      const int x0 = std::min(static_cast<int>(sx), w - 1);
      const int x1 = std::min(x0 + 1, w - 1);
      const float fx = sx - static_cast<float>(x0);
      const std::uint8_t* p00 = image.At(x0, y0);
      const std::uint8_t* p10 = image.At(x1, y0);
      const std::uint8_t* p01 = image.At(x0, y1);
      const std::uint8_t* p11 = image.At(x1, y1);
      std::uint8_t* out = framed->At(n + j, n + i);
      for (int ch = 0; ch < 3; ++ch) {
        const float value = (p10[ch] * fx + p00[ch] * (1.0f - fx)) * (1.0f - fy) +
                            (p01[ch] * (1.0f - fx) + p11[ch] * fx) * fy;
        out[ch] = ClampToByte(value);
      }
      out[3] = 255;
    }
  }
  image = std::move(*framed);
}

void DrawBorder(RgbaImage& image, int n, Rgb color) {
  if (n <= 0 || image.empty()) return;
  const int w = image.width;
  const int h = image.height;
  auto paint = [&](int x, int y) {
    std::uint8_t* p = image.At(x, y);
    p[0] = color.r;
    p[1] = color.g;
    p[2] = color.b;
    p[3] = 255;
  };
  const int band = std::min({n, w, h});
  for (int y = 0; y < h; ++y) {
    const bool edgeRow = y < band || y >= h - band;
    for (int x = 0; x < w; ++x) {
      if (edgeRow || x < band || x >= w - band) paint(x, y);
    }
  }
}

void ApplyStroke(RgbaImage& image, const GridImageEffects& e,
                 const std::function<Rgb(Rgb)>& toTarget) {
  const int n = StrokeWidthPixels(e);
  if (n <= 0) return;
  const Rgb color = toTarget ? toTarget(StrokeColor(e.strokeColor)) : StrokeColor(e.strokeColor);
  if (e.strokeExternal) {
    ApplyExternalStroke(image, n, color);
  } else {
    DrawBorder(image, n, color);
  }
}

}  // namespace sheetsmith
