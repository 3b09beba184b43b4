// RGBA images made from the pixel pool, filled or not.
#include "imaging/pixels/rgba_image.h"

#include <cstring>
#include <limits>

namespace sheetsmith {

std::optional<std::size_t> RgbaByteCount(long long width, long long height) {
  if (width <= 0 || height <= 0) return std::nullopt;
  const auto limit = static_cast<unsigned long long>(std::numeric_limits<std::ptrdiff_t>::max());
  const auto w = static_cast<unsigned long long>(width);
  const auto h = static_cast<unsigned long long>(height);
  if (w > limit / 4 / h) return std::nullopt;
  return static_cast<std::size_t>(w * h * 4);
}

std::optional<RgbaImage> MakeUnfilledImage(int width, int height) {
  const auto bytes = RgbaByteCount(width, height);
  if (!bytes) return std::nullopt;
  auto* pixels = static_cast<std::uint8_t*>(PoolAllocate(*bytes));
  if (!pixels) return std::nullopt;
  return AdoptPixels(pixels, width, height);
}

std::optional<RgbaImage> MakeImage(int width, int height, std::uint8_t fill) {
  std::optional<RgbaImage> image = MakeUnfilledImage(width, height);
  if (image) std::memset(image->data(), fill, image->ByteCount());
  return image;
}

RgbaImage AdoptPixels(std::uint8_t* pixels, int width, int height) {
  RgbaImage image;
  image.width = width;
  image.height = height;
  image.pixels.reset(pixels);
  return image;
}

std::optional<RgbaImage> CloneImage(const RgbaImage& image) {
  if (image.empty()) return std::nullopt;
  auto* pixels = static_cast<std::uint8_t*>(PoolAllocate(image.ByteCount()));
  if (!pixels) return std::nullopt;
  std::memcpy(pixels, image.data(), image.ByteCount());
  return AdoptPixels(pixels, image.width, image.height);
}

}  // namespace sheetsmith
