// Compares two images pixel by pixel (red, green, blue).
//   image_diff A B [MAX_MEAN]
// Prints "identical", or the largest difference, the difference at the
// 99.9th percentile and the mean absolute difference per channel; exits 0
// when the mean is at most MAX_MEAN (default 0).
//   image_diff --numbers A B
// Prints, for pooling over several images: the largest difference, the
// 99.9th percentile, the sum of squared differences and the number of
// values compared.
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "imaging/reading/photo_reader.h"

int main(int argc, char** argv) {
  const bool numbers = argc > 1 && std::strcmp(argv[1], "--numbers") == 0;
  if (numbers) {
    ++argv;
    --argc;
  }
  if (argc < 3) {
    std::fprintf(stderr, "usage: image_diff A B [MAX_MEAN] | image_diff --numbers A B\n");
    return 2;
  }
  const double allowed = argc > 3 ? std::atof(argv[3]) : 0.0;
  const auto a = sheetsmith::LoadRgba(argv[1]);
  const auto b = sheetsmith::LoadRgba(argv[2]);
  if (!a || !b) {
    std::printf("unreadable\n");
    return 1;
  }
  if (a->width != b->width || a->height != b->height) {
    std::printf("sizes differ: %dx%d and %dx%d\n", a->width, a->height, b->width, b->height);
    return 1;
  }
  const std::size_t count = static_cast<std::size_t>(a->width) * a->height;
  int largest = 0;
  double sum = 0;
  double squares = 0;
  std::array<std::size_t, 256> histogram{};
  for (std::size_t i = 0; i < count; ++i) {
    for (int ch = 0; ch < 3; ++ch) {
      const int d = std::abs(int{a->data()[i * 4 + ch]} - int{b->data()[i * 4 + ch]});
      largest = std::max(largest, d);
      sum += d;
      squares += static_cast<double>(d) * d;
      ++histogram[static_cast<std::size_t>(d)];
    }
  }
  const double mean = sum / (count * 3.0);
  // The smallest difference that at least 99.9 % of the values stay within.
  const std::size_t values = count * 3;
  std::size_t within = 0;
  int percentile = 0;
  while (percentile < 255 &&
         (within += histogram[static_cast<std::size_t>(percentile)]) * 1000 < values * 999) {
    ++percentile;
  }
  if (numbers) {
    std::printf("%d %d %.0f %zu\n", largest, percentile, squares, values);
    return 0;
  }
  if (largest == 0) {
    std::printf("identical\n");
  } else {
    std::printf("largest difference %d, 99.9th percentile %d, mean %.4f\n", largest, percentile,
                mean);
  }
  return mean <= allowed ? 0 : 1;
}
