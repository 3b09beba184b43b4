// Compares two images pixel by pixel (red, green, blue).
//   image_diff A B [MAX_MEAN]
// Prints "identical", or the largest and the mean absolute difference per
// channel; exits 0 when the mean is at most MAX_MEAN (default 0).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "image_io.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: image_diff A B [MAX_MEAN]\n");
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
  for (std::size_t i = 0; i < count; ++i) {
    for (int ch = 0; ch < 3; ++ch) {
      const int d = std::abs(int{a->data()[i * 4 + ch]} - int{b->data()[i * 4 + ch]});
      largest = std::max(largest, d);
      sum += d;
    }
  }
  const double mean = sum / (count * 3.0);
  if (largest == 0) {
    std::printf("identical\n");
  } else {
    std::printf("largest difference %d, mean %.4f\n", largest, mean);
  }
  return mean <= allowed ? 0 : 1;
}
