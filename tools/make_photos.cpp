// Writes sample photos for the demo and the benchmark.
//   make_photos demo DIR    a handful of photos of several sizes and shapes,
//                           one with an EXIF orientation, and a frame
//   make_photos bench DIR   16 baseline JPEGs of 4000 x 3000 at quality 90
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "test_photos.h"

namespace {

using sheetsmith::RgbaImage;

// A gradient sky, a sun and a horizon: something that looks like a picture.
RgbaImage Scene(int width, int height, int seed) {
  RgbaImage image = testsupport::Gradient(width, height, seed);
  const double sunX = width * (0.25 + 0.1 * (seed % 5));
  const double sunY = height * 0.3;
  const double radius = std::min(width, height) * 0.12;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      std::uint8_t* p = image.At(x, y);
      if (y > height * 0.65) {  // ground
        p[0] = static_cast<std::uint8_t>(40 + (seed * 29) % 60);
        p[1] = static_cast<std::uint8_t>(110 + (x * 7 + y * 3) % 40);
        p[2] = 50;
      }
      if (std::hypot(x - sunX, y - sunY) < radius) {
        p[0] = 250;
        p[1] = 210;
        p[2] = 60;
      }
    }
  }
  return image;
}

bool Demo(const std::string& dir) {
  struct Photo {
    const char* name;
    int width, height, exif;
  };
  const Photo photos[] = {
      {"01 landscape.jpg", 1600, 1200, 0},
      {"02 portrait.jpg", 1200, 1600, 0},
      {"03 square.jpg", 1000, 1000, 0},
      {"04 turned by exif.jpg", 2000, 1000, 6},
      {"05 zoomed and framed.jpg", 1600, 1200, 0},
      {"06 small.jpg", 640, 480, 0},
  };
  int seed = 0;
  for (const Photo& photo : photos) {
    const std::string path = dir + "/" + photo.name;
    if (!testsupport::WriteJpeg(path, Scene(photo.width, photo.height, ++seed), 92, photo.exif)) {
      std::fprintf(stderr, "cannot write %s\n", path.c_str());
      return false;
    }
  }
  // A frame: an opaque rounded band with a transparent window.
  RgbaImage frame = testsupport::Solid(600, 800, {250, 245, 235}, 255);
  for (int y = 0; y < frame.height; ++y) {
    for (int x = 0; x < frame.width; ++x) {
      const int edge = std::min({x, y, frame.width - 1 - x, frame.height - 1 - y});
      std::uint8_t* p = frame.At(x, y);
      if (edge >= 60)
        p[3] = 0;
      else if (edge >= 50)
        p[3] = static_cast<std::uint8_t>(255 - (edge - 50) * 25);
    }
  }
  return testsupport::WritePng(dir + "/frame.png", frame);
}

bool Bench(const std::string& dir) {
  for (int i = 0; i < 16; ++i) {
    char name[64];
    std::snprintf(name, sizeof name, "/bench_%02d.jpg", i + 1);
    if (!testsupport::WriteJpeg(dir + name, Scene(4000, 3000, i), 90)) return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make_photos demo|bench DIR\n");
    return 2;
  }
  const std::string kind = argv[1];
  const bool ok = kind == "demo" ? Demo(argv[2]) : kind == "bench" ? Bench(argv[2]) : false;
  return ok ? 0 : 1;
}
