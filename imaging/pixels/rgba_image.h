// An image in memory: 8-bit red, green, blue, alpha per pixel, rows from top
// to bottom without padding. Every photo, frame and page the programs make
// has this form. The buffer comes from the pixel pool, as the decoder's buffers
// do, so that a decoded photo is adopted as it is, without a copy; an image
// moves, and is copied only by CloneImage.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>

#include "imaging/pixels/buffer_pool.h"

namespace sheetsmith {

struct PoolDeleter {
  void operator()(std::uint8_t* p) const { PoolFree(p); }
};
using PixelBuffer = std::unique_ptr<std::uint8_t[], PoolDeleter>;

// One colour of eight bits a channel: a border's, a cut line's, a test's.
struct Rgb {
  std::uint8_t r = 0;
  std::uint8_t g = 0;
  std::uint8_t b = 0;
  bool operator==(const Rgb&) const = default;
};

struct RgbaImage {
  int width = 0;
  int height = 0;
  PixelBuffer pixels;
  // Set when every alpha byte is known to be 255 (a photo decoded from a
  // file without alpha), so that the resampler need not look; false means
  // only "not known".
  bool knownOpaque = false;

  bool empty() const { return width <= 0 || height <= 0 || !pixels; }
  std::size_t ByteCount() const { return static_cast<std::size_t>(width) * height * 4; }
  std::uint8_t* data() { return pixels.get(); }
  const std::uint8_t* data() const { return pixels.get(); }
  std::uint8_t* At(int x, int y) {
    return pixels.get() + (static_cast<std::size_t>(y) * width + x) * 4;
  }
  const std::uint8_t* At(int x, int y) const {
    return pixels.get() + (static_cast<std::size_t>(y) * width + x) * 4;
  }
};

// Byte count of a width x height RGBA buffer, or nullopt when the size is
// not positive or does not fit in memory addresses.
std::optional<std::size_t> RgbaByteCount(long long width, long long height);

// A width x height image with every byte set to `fill`, or nullopt when the
// memory cannot be had.
std::optional<RgbaImage> MakeImage(int width, int height, std::uint8_t fill);

// The same with the bytes left as they are, for a caller that writes every one.
std::optional<RgbaImage> MakeUnfilledImage(int width, int height);

// Takes ownership of a width x height RGBA buffer from PoolAllocate.
RgbaImage AdoptPixels(std::uint8_t* pixels, int width, int height);

std::optional<RgbaImage> CloneImage(const RgbaImage& image);

}  // namespace sheetsmith
