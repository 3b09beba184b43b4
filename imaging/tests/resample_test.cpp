// The resampler against stb_image_resize 0.97's generic entry
// with the settings the composer used before it had its own.
#include "imaging/pixels/resample.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "imaging/pixels/resample_kernels.h"
#include "test_photos.h"

#define STB_IMAGE_RESIZE_IMPLEMENTATION
#define STB_IMAGE_RESIZE_STATIC
#include <stb_image_resize.h>

namespace sheetsmith {
namespace {

// The image turned a quarter clockwise, pixel by pixel.
RgbaImage TurnedClockwise(const RgbaImage& image) {
  std::optional<RgbaImage> turned = MakeImage(image.height, image.width, 0);
  EXPECT_TRUE(turned);
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      std::memcpy(turned->At(image.height - 1 - y, x), image.At(x, y), 4);
    }
  }
  return std::move(*turned);
}

RgbaImage WithStb(const RgbaImage& image, int width, int height) {
  std::optional<RgbaImage> out = MakeImage(width, height, 0);
  EXPECT_TRUE(out);
  EXPECT_TRUE(stbir_resize_uint8_generic(image.data(), image.width, image.height, 0, out->data(),
                                         width, height, 0, 4, 3, 0, STBIR_EDGE_CLAMP,
                                         STBIR_FILTER_DEFAULT, STBIR_COLORSPACE_LINEAR, nullptr));
  return std::move(*out);
}

struct Difference {
  int largest = 0;
  double mean = 0;
};

// Over colour channels of pixels that are not almost transparent (their
// colour means nothing), and over alpha everywhere.
Difference Compare(const RgbaImage& a, const RgbaImage& b) {
  Difference d;
  long long total = 0;
  long long values = 0;
  for (int y = 0; y < a.height; ++y) {
    for (int x = 0; x < a.width; ++x) {
      const std::uint8_t* p = a.At(x, y);
      const std::uint8_t* q = b.At(x, y);
      for (int c = 0; c < 4; ++c) {
        if (c < 3 && q[3] < 8) continue;
        const int diff = std::abs(p[c] - q[c]);
        d.largest = std::max(d.largest, diff);
        total += diff;
        ++values;
      }
    }
  }
  d.mean = values ? static_cast<double>(total) / static_cast<double>(values) : 0;
  return d;
}

// A photo-like picture with sharp edges, fine texture and smooth areas.
RgbaImage Busy(int width, int height, int seed) {
  RgbaImage image = testsupport::Gradient(width, height, seed);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      std::uint8_t* p = image.At(x, y);
      if ((x / 7 + y / 5) % 3 == 0) p[0] = 255;
      if (x % 11 == 0) p[1] = 0;
      if (y > height / 2 && x < width / 3) p[2] = static_cast<std::uint8_t>((x * y) % 256);
    }
  }
  return image;
}

TEST(ResampleTest, MatchesTheFirstGenerationResizerUpToRounding) {
  struct Shape {
    int inW, inH, outW, outH;
  };
  const Shape shapes[] = {
      {403, 301, 97, 73},     // shrink, factor about 4
      {1200, 900, 600, 800},  // shrink, a different factor each way
      {37, 23, 150, 91},      // enlarge
      {300, 200, 300, 120},   // equal width: filtered all the same
      {1, 200, 1, 57},        // one column
      {200, 1, 57, 1},        // one row
      {1, 40, 3, 120},        // one column, enlarged both ways
      {640, 480, 641, 479},   // almost the same size
  };
  for (const Shape& s : shapes) {
    const RgbaImage in = Busy(s.inW, s.inH, s.inW + s.outH);
    const std::optional<RgbaImage> ours = Resample(in, s.outW, s.outH);
    ASSERT_TRUE(ours);
    ASSERT_EQ(ours->width, s.outW);
    ASSERT_EQ(ours->height, s.outH);
    const Difference d = Compare(*ours, WithStb(in, s.outW, s.outH));
    EXPECT_LE(d.largest, 1) << s.inW << "x" << s.inH << " -> " << s.outW << "x" << s.outH;
    // Off by one in few places only: a page made of these goes through the
    // JPEG writer, which spreads each difference over its block.
    EXPECT_LE(d.mean, 0.003) << s.inW << "x" << s.inH << " -> " << s.outW << "x" << s.outH;
  }
}

TEST(ResampleTest, TransparentPixelsGiveNoColourAtAlphaEdges) {
  // A frame: opaque red band, semi-transparent blue, transparent white centre.
  RgbaImage frame = testsupport::Solid(160, 120, {255, 255, 255}, 0);
  for (int y = 0; y < 120; ++y) {
    for (int x = 0; x < 160; ++x) {
      std::uint8_t* p = frame.At(x, y);
      if (x < 20 || y < 15) {
        p[0] = 255, p[1] = 0, p[2] = 0, p[3] = 255;
      } else if (x < 40) {
        p[0] = 0, p[1] = 0, p[2] = 255, p[3] = 100;
      }
    }
  }
  for (const auto& [w, h] : {std::pair{57, 43}, std::pair{400, 300}, std::pair{160, 77}}) {
    const std::optional<RgbaImage> ours = Resample(frame, w, h);
    ASSERT_TRUE(ours);
    const Difference d = Compare(*ours, WithStb(frame, w, h));
    EXPECT_LE(d.largest, 1) << w << "x" << h;
    EXPECT_LE(d.mean, 0.1) << w << "x" << h;
    // Next to the opaque red, the transparent white does not pale it.
    const std::uint8_t* edge = ours->At(w * 10 / 160, h / 2);
    EXPECT_GT(edge[0], 240);
    EXPECT_LT(edge[1], 15);
  }
}

TEST(ResampleTest, TheProcessorSpecificKernelsMakeTheSameBytesAsThePortableOnes) {
  const ResampleKernels avx2 = Avx2Kernels();
  if (!avx2.vertical) GTEST_SKIP() << "this processor or build has no AVX2 kernels";
  struct Shape {
    int inW, inH, outW, outH;
  };
  // Odd and even tap counts, widths that leave a remainder after the wide
  // loops (odd output widths, rows not a multiple of 32 bytes), enlarging.
  const Shape shapes[] = {{403, 301, 97, 73}, {1203, 901, 301, 226}, {37, 23, 150, 91},
                          {9, 300, 3, 41},    {640, 480, 641, 479},  {1, 1, 5, 5}};
  for (const Shape& s : shapes) {
    RgbaImage in = Busy(s.inW, s.inH, s.inW);
    in.knownOpaque = true;
    const std::optional<RgbaImage> wide = ResampleWith(in, s.outW, s.outH, 0, avx2);
    const std::optional<RgbaImage> portable =
        ResampleWith(in, s.outW, s.outH, 0, PortableKernels());
    ASSERT_TRUE(wide && portable);
    EXPECT_EQ(0, std::memcmp(wide->data(), portable->data(), wide->ByteCount()))
        << s.inW << "x" << s.inH << " -> " << s.outW << "x" << s.outH;
  }
}

TEST(ResampleTest, TurnedAsItIsMadeIsTheScaledImageTurned) {
  RgbaImage opaque = Busy(203, 151, 5);
  opaque.knownOpaque = true;
  RgbaImage transparent = Busy(203, 151, 6);
  transparent.At(10, 10)[3] = 0;
  transparent.At(100, 70)[3] = 90;
  for (const RgbaImage* in : {&opaque, &transparent}) {
    for (int quarters = 0; quarters < 4; ++quarters) {
      SCOPED_TRACE(std::to_string(quarters) + (in == &opaque ? " opaque" : " transparent"));
      std::optional<RgbaImage> expected = Resample(*in, 61, 37);
      ASSERT_TRUE(expected);
      for (int q = 0; q < quarters; ++q) expected = TurnedClockwise(*expected);
      const std::optional<RgbaImage> turned = Resample(*in, 61, 37, quarters);
      ASSERT_TRUE(turned);
      ASSERT_EQ(turned->width, expected->width);
      ASSERT_EQ(turned->height, expected->height);
      EXPECT_EQ(0, std::memcmp(turned->data(), expected->data(), turned->ByteCount()));
    }
  }
}

TEST(ResampleTest, RefusesSizesBelowOne) {
  const RgbaImage in = testsupport::Solid(10, 10, {1, 2, 3});
  EXPECT_FALSE(Resample(in, 0, 5));
  EXPECT_FALSE(Resample(in, 5, -1));
  EXPECT_FALSE(Resample(RgbaImage{}, 5, 5));
}

}  // namespace
}  // namespace sheetsmith
