// The inner loops of the resampler's fixed-point path, in two builds: one
// for any x86-64 processor (SSE2) and one for processors with AVX2, chosen
// once at run time. Both compute exactly the same integers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "imaging/pixels/rgba_image.h"

namespace sheetsmith {

// Fixed-point weights carry 15 fraction bits on an axis where every weight
// fits 16 signed bits that way, 14 on the others (an enlargement can have a
// weight of exactly one). The vertical pass keeps 7 fraction bits of a level
// for the horizontal one, stored less 128 levels so that the filters'
// overshoot past 0 and 255 still fits 16 bits.
constexpr int kMiddleBits = 7;

// The weights of one axis in pairs: output o reads inputs first[o] ..
// first[o] + 2 * pairCount[o] - 1; pair p of output o holds the weight of
// input 2p in its low 16 bits and of input 2p + 1 in its high 16 bits.
// Slots past pairCount[o] are zero.
struct FixedAxis {
  int weightBits = 14;
  int pairs = 0;  // slots per output
  std::vector<int> first;
  std::vector<int> pairCount;
  std::vector<std::int32_t> pairWeights;  // [o * pairs + p]
  // The same weights with outputs 2k and 2k + 1 side by side:
  // [(k * pairs + p) * 2 + (o & 1)], for kernels that make two pixels at once.
  std::vector<std::int32_t> pairWeightsByTwos;
};

struct ResampleKernels {
  // One row of the vertical pass over `values` bytes: middle[i] = the sum
  // over the pairs of the weighted bytes rows[2p][i], rows[2p + 1][i]
  // (weights of `weightBits` fraction bits), rounded to kMiddleBits fraction
  // bits, less 128 levels.
  void (*vertical)(const std::uint8_t* const* rows, const std::int32_t* pairWeights, int pairCount,
                   int weightBits, std::int16_t* middle, std::size_t values);
  // One output row of the horizontal pass: for every output pixel x, four
  // channels of middle (four values a pixel) weighted, rounded and clamped.
  // `middle` may be read 2 * columns.pairs + 2 pixels past its last pixel.
  void (*horizontal)(const std::int16_t* middle, const FixedAxis& columns, int outWidth,
                     std::uint8_t* target);
};

ResampleKernels PortableKernels();
// Null members when this build or this processor has no AVX2.
ResampleKernels Avx2Kernels();
// The fastest set this processor runs.
const ResampleKernels& ChosenKernels();

// Resample with the given kernels (for tests that hold the sets to each other).
std::optional<RgbaImage> ResampleWith(const RgbaImage& image, int width, int height,
                                      int quarterTurns, const ResampleKernels& kernels);

}  // namespace sheetsmith
