// The resampler's weights, its fixed-point road for opaque images and its
// exact road for the others.
#include "imaging/pixels/resample.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "imaging/pixels/resample_kernels.h"
#include "imaging/system/cpu_features.h"

namespace sheetsmith {

#if KORVELA_AVX2_KERNELS
// Built with AVX2 in a file of their own; called only when the processor and
// the system support it.
void VerticalRowAvx2(const std::uint8_t* const* rows, const std::int32_t* pairWeights,
                     int pairCount, int weightBits, std::int16_t* middle, std::size_t values);
void HorizontalRowAvx2(const std::int16_t* middle, const FixedAxis& columns, int outWidth,
                       std::uint8_t* target);
#endif

namespace {

// The filters, as functions of the distance in the finer of the two grids.
float CatmullRom(float x) {
  x = std::fabs(x);
  if (x < 1.0f) return 1 - x * x * (2.5f - 1.5f * x);
  if (x < 2.0f) return 2 - x * (4 + x * (0.5f * x - 2.5f));
  return 0.0f;
}

float Mitchell(float x) {
  x = std::fabs(x);
  if (x < 1.0f) return (16 + x * x * (21 * x - 36)) / 18;
  if (x < 2.0f) return (32 + x * (-60 + x * (36 - 7 * x))) / 18;
  return 0.0f;
}

constexpr float kSupport = 2.0f;

// The weights of one axis: for output pixel o, inputs first[o] ..
// first[o] + count[o] - 1 with weights[o * taps ...]. Inputs past an edge
// are folded onto the edge pixel, so every index read lies in the image.
struct AxisWeights {
  int taps = 0;
  std::vector<int> first;
  std::vector<int> count;
  std::vector<float> weights;
};

AxisWeights ComputeWeights(int inSize, int outSize) {
  const float scale = static_cast<float>(outSize) / static_cast<float>(inSize);
  const bool enlarging = scale > 1.0f;
  // In input pixels: the filter reaches kSupport input pixels when
  // enlarging, kSupport output pixels (wider in input pixels) when shrinking.
  const float radius = enlarging ? kSupport : kSupport / scale;
  AxisWeights axis;
  axis.taps = std::min(inSize, static_cast<int>(std::ceil(radius * 2)) + 3);
  axis.first.resize(static_cast<std::size_t>(outSize));
  axis.count.resize(static_cast<std::size_t>(outSize));
  axis.weights.assign(static_cast<std::size_t>(outSize) * axis.taps, 0.0f);
  std::vector<float> folded(static_cast<std::size_t>(axis.taps));
  for (int o = 0; o < outSize; ++o) {
    const float centre = (static_cast<float>(o) + 0.5f) / scale;  // in input coordinates
    const int lowest = static_cast<int>(std::floor(centre - radius));
    const int highest = static_cast<int>(std::ceil(centre + radius));
    int first = std::clamp(lowest, 0, inSize - 1);
    const int last = std::clamp(highest, 0, inSize - 1);
    std::fill(folded.begin(), folded.end(), 0.0f);
    float total = 0.0f;
    for (int n = lowest; n <= highest; ++n) {
      const float distance = static_cast<float>(n) + 0.5f - centre;
      const float weight = enlarging ? CatmullRom(distance) : Mitchell(distance * scale);
      // Indices past an edge read the edge pixel.
      folded[static_cast<std::size_t>(std::clamp(n, 0, inSize - 1) - first)] += weight;
      total += weight;
    }
    // The filter is zero at its ends: trim what carries no weight.
    int count = last - first + 1;
    int skip = 0;
    while (skip < count - 1 && folded[static_cast<std::size_t>(skip)] == 0.0f) ++skip;
    while (count - 1 > skip && folded[static_cast<std::size_t>(count - 1)] == 0.0f) --count;
    float* weights = &axis.weights[static_cast<std::size_t>(o) * axis.taps];
    for (int k = skip; k < count; ++k) {
      weights[k - skip] = total != 0.0f ? folded[static_cast<std::size_t>(k)] / total : 1.0f;
    }
    axis.first[static_cast<std::size_t>(o)] = first + skip;
    axis.count[static_cast<std::size_t>(o)] = count - skip;
  }
  return axis;
}

// Fixed-point weights, each output's summing to exactly 1 << weightBits
// (the rounding remainder goes to the largest), in pairs.
FixedAxis MakeFixedAxis(const AxisWeights& axis) {
  FixedAxis fixed;
  float largestWeight = 0.0f;
  for (const float weight : axis.weights)
    largestWeight = std::max(largestWeight, std::fabs(weight));
  // Room for the remainder that the rounding leaves to the largest weight.
  fixed.weightBits = largestWeight * 32768.0f <= 32000.0f ? 15 : 14;
  const int one = 1 << fixed.weightBits;
  fixed.pairs = (axis.taps + 1) / 2;
  const std::size_t outputs = axis.first.size();
  fixed.first = axis.first;
  fixed.pairCount.resize(outputs);
  fixed.pairWeights.assign(outputs * static_cast<std::size_t>(fixed.pairs), 0);
  fixed.pairWeightsByTwos.assign((outputs + 1) / 2 * 2 * static_cast<std::size_t>(fixed.pairs), 0);
  std::vector<std::int16_t> weights(static_cast<std::size_t>(fixed.pairs) * 2);
  for (std::size_t o = 0; o < outputs; ++o) {
    const float* real = &axis.weights[o * static_cast<std::size_t>(axis.taps)];
    std::fill(weights.begin(), weights.end(), std::int16_t{0});
    int sum = 0;
    int largest = 0;
    for (int k = 0; k < axis.count[o]; ++k) {
      weights[k] = static_cast<std::int16_t>(std::lround(real[k] * static_cast<float>(one)));
      sum += weights[k];
      if (weights[k] > weights[largest]) largest = k;
    }
    weights[largest] = static_cast<std::int16_t>(weights[largest] + (one - sum));
    fixed.pairCount[o] = (axis.count[o] + 1) / 2;
    for (int p = 0; p < fixed.pairs; ++p) {
      const std::uint32_t pair = static_cast<std::uint16_t>(weights[2 * p]) |
                                 std::uint32_t{static_cast<std::uint16_t>(weights[2 * p + 1])}
                                     << 16;
      fixed.pairWeights[o * fixed.pairs + p] = static_cast<std::int32_t>(pair);
      fixed.pairWeightsByTwos[((o / 2) * fixed.pairs + p) * 2 + (o & 1)] =
          static_cast<std::int32_t>(pair);
    }
  }
  return fixed;
}

bool IsOpaque(const RgbaImage& image) {
  // Every channel ANDed in its own place, which vectorises better than
  // picking out the alpha bytes.
  const std::uint8_t* p = image.data();
  const std::size_t count = static_cast<std::size_t>(image.width) * image.height;
  std::uint8_t all[4] = {255, 255, 255, 255};
  for (std::size_t i = 0; i < count; ++i) {
    for (int c = 0; c < 4; ++c) all[c] &= p[i * 4 + c];
  }
  return all[3] == 255;
}

inline std::int16_t LowWeight(std::int32_t pair) {
  return static_cast<std::int16_t>(pair & 0xFFFF);
}
inline std::int16_t HighWeight(std::int32_t pair) { return static_cast<std::int16_t>(pair >> 16); }

void VerticalRowPortable(const std::uint8_t* const* rows, const std::int32_t* pairWeights,
                         int pairCount, int weightBits, std::int16_t* middle, std::size_t values) {
  const int shift = weightBits - kMiddleBits;
  // Rounds, and takes off the 128 levels.
  const std::int32_t bias = (1 << (shift - 1)) - (128 << weightBits);
  std::size_t begin = 0;
#if KORVELA_SSE2
  // Sixteen values at a time with their sums in registers across all taps;
  // two rows at a time, their bytes interleaved, widened to 16 bits and
  // multiplied-and-added in pairs.
  const std::size_t vectorEnd = values / 16 * 16;
  const __m128i zero = _mm_setzero_si128();
  const __m128i vectorBias = _mm_set1_epi32(bias);
  const __m128i shiftCount = _mm_cvtsi32_si128(shift);
  for (std::size_t i = 0; i < vectorEnd; i += 16) {
    __m128i sum0 = zero, sum1 = zero, sum2 = zero, sum3 = zero;
    for (int p = 0; p < pairCount; ++p) {
      const __m128i weights = _mm_set1_epi32(pairWeights[p]);
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[2 * p] + i));
      const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[2 * p + 1] + i));
      const __m128i low = _mm_unpacklo_epi8(a, b);
      const __m128i high = _mm_unpackhi_epi8(a, b);
      sum0 = _mm_add_epi32(sum0, _mm_madd_epi16(_mm_unpacklo_epi8(low, zero), weights));
      sum1 = _mm_add_epi32(sum1, _mm_madd_epi16(_mm_unpackhi_epi8(low, zero), weights));
      sum2 = _mm_add_epi32(sum2, _mm_madd_epi16(_mm_unpacklo_epi8(high, zero), weights));
      sum3 = _mm_add_epi32(sum3, _mm_madd_epi16(_mm_unpackhi_epi8(high, zero), weights));
    }
    const __m128i first =
        _mm_packs_epi32(_mm_sra_epi32(_mm_add_epi32(sum0, vectorBias), shiftCount),
                        _mm_sra_epi32(_mm_add_epi32(sum1, vectorBias), shiftCount));
    const __m128i second =
        _mm_packs_epi32(_mm_sra_epi32(_mm_add_epi32(sum2, vectorBias), shiftCount),
                        _mm_sra_epi32(_mm_add_epi32(sum3, vectorBias), shiftCount));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(middle + i), first);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(middle + i + 8), second);
  }
  begin = vectorEnd;
#endif
  for (std::size_t i = begin; i < values; ++i) {
    std::int32_t sum = 0;
    for (int p = 0; p < pairCount; ++p) {
      sum += LowWeight(pairWeights[p]) * rows[2 * p][i] +
             HighWeight(pairWeights[p]) * rows[2 * p + 1][i];
    }
    middle[i] = static_cast<std::int16_t>((sum + bias) >> shift);
  }
}

void HorizontalRowPortable(const std::int16_t* middle, const FixedAxis& columns, int outWidth,
                           std::uint8_t* target) {
  const int shift = columns.weightBits + kMiddleBits;
  // Rounds, and gives back the 128 levels.
  const std::int32_t bias = (1 << (shift - 1)) + (128 << shift);
  for (int x = 0; x < outWidth; ++x) {
    const std::int16_t* source = middle + static_cast<std::size_t>(columns.first[x]) * 4;
    const std::int32_t* weights = &columns.pairWeights[static_cast<std::size_t>(x) * columns.pairs];
#if KORVELA_SSE2
    // Two taps at a time: the channels of two neighbouring pixels
    // interleaved and multiplied-and-added with the pair of weights.
    __m128i total = _mm_setzero_si128();
    for (int p = 0; p < columns.pairCount[x]; ++p) {
      const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + p * 8));
      const __m128i interleaved = _mm_unpacklo_epi16(pixels, _mm_srli_si128(pixels, 8));
      total = _mm_add_epi32(total, _mm_madd_epi16(interleaved, _mm_set1_epi32(weights[p])));
    }
    total = _mm_sra_epi32(_mm_add_epi32(total, _mm_set1_epi32(bias)), _mm_cvtsi32_si128(shift));
    const __m128i words = _mm_packs_epi32(total, total);
    const std::int32_t value = _mm_cvtsi128_si32(_mm_packus_epi16(words, words));
    std::memcpy(target + x * 4, &value, 4);
#else
    for (int c = 0; c < 4; ++c) {
      std::int32_t sum = 0;
      for (int p = 0; p < columns.pairCount[x]; ++p) {
        sum += LowWeight(weights[p]) * source[p * 8 + c] +
               HighWeight(weights[p]) * source[p * 8 + 4 + c];
      }
      const std::int32_t value = (sum + bias) >> shift;
      target[x * 4 + c] = static_cast<std::uint8_t>(std::clamp(value, 0, 255));
    }
#endif
  }
}

// Where the rows of a width x height result go when the result is kept
// turned a number of quarters clockwise: straight into `out`, or into a band
// of rows that, once full, is written into `out` (which holds the turned
// image) a run of whole cache lines at a time.
class TurnedRows {
 public:
  TurnedRows(RgbaImage& out, int width, int height, int quarters)
      : out_(out), width_(width), height_(height), quarters_(((quarters % 4) + 4) % 4) {
    if (quarters_ != 0) band_.resize(static_cast<std::size_t>(width) * kBand);
  }

  std::uint8_t* Row(int y) {
    if (quarters_ == 0) return out_.At(0, y);
    return reinterpret_cast<std::uint8_t*>(&band_[static_cast<std::size_t>(y % kBand) * width_]);
  }

  // Called once row y is made, rows in order.
  void Done(int y) {
    if (quarters_ == 0 || (y % kBand != kBand - 1 && y != height_ - 1)) return;
    const int first = y - y % kBand;
    const int count = y - first + 1;
    auto* pixels = reinterpret_cast<std::uint32_t*>(out_.data());
    const std::size_t stride = static_cast<std::size_t>(out_.width);
    const auto bandAt = [this](int k, int x) {
      return band_[static_cast<std::size_t>(k) * width_ + static_cast<std::size_t>(x)];
    };
    if (quarters_ == 2) {  // (x, y) -> (width - 1 - x, height - 1 - y)
      for (int k = 0; k < count; ++k) {
        std::uint32_t* target =
            pixels + static_cast<std::size_t>(height_ - 1 - (first + k)) * stride;
        for (int x = 0; x < width_; ++x) target[width_ - 1 - x] = bandAt(k, x);
      }
    } else {
      // A quarter turn either way: each pixel column x of the band becomes a
      // run of `count` pixels in row x (clockwise: row x, backwards, ending
      // at column height - 1 - first) or row width - 1 - x (the other way:
      // forwards from column first).
      const bool clockwise = quarters_ == 1;
      const auto targetOf = [&](int x) {
        return clockwise ? pixels + static_cast<std::size_t>(x) * stride +
                               static_cast<std::size_t>(height_ - 1 - y)
                         : pixels + static_cast<std::size_t>(width_ - 1 - x) * stride +
                               static_cast<std::size_t>(first);
      };
      int x = 0;
#if KORVELA_SSE2
      // Four by four: four pixels of four band rows transposed at once.
      if (count % 4 == 0) {
        for (; x + 4 <= width_; x += 4) {
          for (int k = 0; k < count; k += 4) {
            __m128i r0 = _mm_loadu_si128(
                reinterpret_cast<const __m128i*>(&band_[static_cast<std::size_t>(k) * width_ + x]));
            __m128i r1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(
                &band_[static_cast<std::size_t>(k + 1) * width_ + x]));
            __m128i r2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(
                &band_[static_cast<std::size_t>(k + 2) * width_ + x]));
            __m128i r3 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(
                &band_[static_cast<std::size_t>(k + 3) * width_ + x]));
            const __m128i t0 = _mm_unpacklo_epi32(r0, r1);  // x: 0 0 1 1
            const __m128i t1 = _mm_unpacklo_epi32(r2, r3);
            const __m128i t2 = _mm_unpackhi_epi32(r0, r1);  // x: 2 2 3 3
            const __m128i t3 = _mm_unpackhi_epi32(r2, r3);
            __m128i columns[4] = {_mm_unpacklo_epi64(t0, t1), _mm_unpackhi_epi64(t0, t1),
                                  _mm_unpacklo_epi64(t2, t3), _mm_unpackhi_epi64(t2, t3)};
            for (int c = 0; c < 4; ++c) {
              // columns[c] holds band rows k .. k + 3 of pixel x + c.
              if (clockwise) {
                _mm_storeu_si128(reinterpret_cast<__m128i*>(targetOf(x + c) + (count - 4 - k)),
                                 _mm_shuffle_epi32(columns[c], 0x1B));
              } else {
                _mm_storeu_si128(reinterpret_cast<__m128i*>(targetOf(x + c) + k), columns[c]);
              }
            }
          }
        }
      }
#endif
      for (; x < width_; ++x) {
        std::uint32_t* target = targetOf(x);
        for (int k = 0; k < count; ++k) {
          target[clockwise ? count - 1 - k : k] = bandAt(k, x);
        }
      }
    }
  }

 private:
  // Sixteen pixels make a 64-byte line of the turned image.
  static constexpr int kBand = 16;
  RgbaImage& out_;
  int width_;
  int height_;
  int quarters_;
  std::vector<std::uint32_t> band_;
};

// The opaque path: vertical pass into one row of 16-bit values, then the
// horizontal pass into the output row.
// The rows of a whole image in memory.
class ImageRows final : public RowSource {
 public:
  explicit ImageRows(const RgbaImage& image) : image_(image) {}
  bool Reserve(int) override { return true; }
  const std::uint8_t* Row(int y) override { return image_.At(0, y); }

 private:
  const RgbaImage& image_;
};

// How many consecutive input rows must be at hand at once when rows are
// asked for in order: for each output row, from the lowest row any later
// output row reads to the highest row read so far.
int RowsAtHand(const FixedAxis& rows, int inHeight) {
  const int outputs = static_cast<int>(rows.first.size());
  std::vector<int> lowestLater(static_cast<std::size_t>(outputs) + 1, inHeight);
  for (int y = outputs - 1; y >= 0; --y) {
    lowestLater[static_cast<std::size_t>(y)] = std::min(
        lowestLater[static_cast<std::size_t>(y) + 1], rows.first[static_cast<std::size_t>(y)]);
  }
  int highest = 0;
  int atHand = 1;
  for (int y = 0; y < outputs; ++y) {
    const int last = rows.first[static_cast<std::size_t>(y)] +
                     2 * rows.pairCount[static_cast<std::size_t>(y)] - 1;
    highest = std::max(highest, std::min(last, inHeight - 1));
    atHand = std::max(atHand, highest - lowestLater[static_cast<std::size_t>(y)] + 1);
  }
  return atHand;
}

// The opaque path: vertical pass into one row of 16-bit values, then the
// horizontal pass into the output row.
bool ResampleFixed(RowSource& in, int inWidth, int inHeight, TurnedRows& out, int outWidth,
                   int outHeight, const ResampleKernels& kernels) {
  const FixedAxis columns = MakeFixedAxis(ComputeWeights(inWidth, outWidth));
  const FixedAxis rows = MakeFixedAxis(ComputeWeights(inHeight, outHeight));
  if (!in.Reserve(RowsAtHand(rows, inHeight))) return false;
  const std::size_t rowValues = static_cast<std::size_t>(inWidth) * 4;
  // Slack past the last pixel: taps are read in pairs, two outputs at a time.
  std::vector<std::int16_t> middle(
      rowValues + (static_cast<std::size_t>(columns.pairs) * 2 + 2) * 4, 0);
  std::vector<const std::uint8_t*> rowsOf(static_cast<std::size_t>(rows.pairs) * 2);
  for (int y = 0; y < outHeight; ++y) {
    const int first = rows.first[static_cast<std::size_t>(y)];
    const int pairCount = rows.pairCount[static_cast<std::size_t>(y)];
    // An odd tap count reads its last row twice, the second time weighted 0.
    for (int k = 0; k < pairCount * 2; ++k) {
      const std::uint8_t* row = in.Row(std::min(first + k, inHeight - 1));
      if (!row) return false;
      rowsOf[static_cast<std::size_t>(k)] = row;
    }
    kernels.vertical(rowsOf.data(), &rows.pairWeights[static_cast<std::size_t>(y) * rows.pairs],
                     pairCount, rows.weightBits, middle.data(), rowValues);
    kernels.horizontal(middle.data(), columns, outWidth, out.Row(y));
    out.Done(y);
  }
  return true;
}

// What the filtering does to alpha-weighted colour: a tiny alpha is added
// before weighting so that wholly transparent regions keep their colour.
constexpr float kAlphaEpsilon = 1.0f / (1 << 20) / (1 << 20);

std::uint8_t ToByte(float value) {
  const float clamped = value < 0.0f ? 0.0f : value > 1.0f ? 1.0f : value;
  return static_cast<std::uint8_t>(static_cast<int>(clamped * 255.0f + 0.5f));
}

// The path for images with transparency, in floating point.
void ResampleFloat(const RgbaImage& in, TurnedRows& out, int outWidth, int outHeight) {
  const AxisWeights columns = ComputeWeights(in.width, outWidth);
  const AxisWeights rows = ComputeWeights(in.height, outHeight);
  const std::size_t rowValues = static_cast<std::size_t>(in.width) * 4;
  // The input once as alpha-weighted reals.
  std::vector<float> weighted(rowValues * static_cast<std::size_t>(in.height));
  for (int y = 0; y < in.height; ++y) {
    const std::uint8_t* source = in.At(0, y);
    float* target = &weighted[rowValues * static_cast<std::size_t>(y)];
    for (int x = 0; x < in.width; ++x) {
      const float alpha = static_cast<float>(source[x * 4 + 3]) / 255.0f + kAlphaEpsilon;
      for (int c = 0; c < 3; ++c) {
        target[x * 4 + c] = static_cast<float>(source[x * 4 + c]) / 255.0f * alpha;
      }
      target[x * 4 + 3] = alpha;
    }
  }
  std::vector<float> middle(rowValues);
  for (int y = 0; y < outHeight; ++y) {
    std::fill(middle.begin(), middle.end(), 0.0f);
    const float* weights = &rows.weights[static_cast<std::size_t>(y) * rows.taps];
    const int first = rows.first[static_cast<std::size_t>(y)];
    for (int k = 0; k < rows.count[static_cast<std::size_t>(y)]; ++k) {
      const float* source = &weighted[rowValues * static_cast<std::size_t>(first + k)];
      for (std::size_t i = 0; i < rowValues; ++i) middle[i] += weights[k] * source[i];
    }
    std::uint8_t* target = out.Row(y);
    for (int x = 0; x < outWidth; ++x) {
      const float* w = &columns.weights[static_cast<std::size_t>(x) * columns.taps];
      const float* source = &middle[static_cast<std::size_t>(columns.first[x]) * 4];
      float sum[4] = {0, 0, 0, 0};
      for (int k = 0; k < columns.count[static_cast<std::size_t>(x)]; ++k) {
        for (int c = 0; c < 4; ++c) sum[c] += w[k] * source[k * 4 + c];
      }
      const float alpha = sum[3];
      const float reciprocal = alpha != 0.0f ? 1.0f / alpha : 0.0f;
      for (int c = 0; c < 3; ++c) target[x * 4 + c] = ToByte(sum[c] * reciprocal);
      target[x * 4 + 3] = ToByte(alpha - kAlphaEpsilon);
    }
    out.Done(y);
  }
}

}  // namespace

ResampleKernels PortableKernels() { return {VerticalRowPortable, HorizontalRowPortable}; }

ResampleKernels Avx2Kernels() {
#if KORVELA_AVX2_KERNELS
  if (ProcessorHasAvx2()) return {VerticalRowAvx2, HorizontalRowAvx2};
#endif
  return {nullptr, nullptr};
}

const ResampleKernels& ChosenKernels() {
  static const ResampleKernels chosen = [] {
    const ResampleKernels avx2 = Avx2Kernels();
    return avx2.vertical ? avx2 : PortableKernels();
  }();
  return chosen;
}

std::optional<RgbaImage> ResampleWith(const RgbaImage& image, int width, int height,
                                      int quarterTurns, const ResampleKernels& kernels) {
  if (image.empty() || width < 1 || height < 1) return std::nullopt;
  const bool sideways = quarterTurns % 2 != 0;
  std::optional<RgbaImage> out =
      MakeUnfilledImage(sideways ? height : width, sideways ? width : height);
  if (!out) return std::nullopt;
  TurnedRows rows(*out, width, height, quarterTurns);
  if (image.knownOpaque || IsOpaque(image)) {
    ImageRows source(image);
    ResampleFixed(source, image.width, image.height, rows, width, height, kernels);
  } else {
    ResampleFloat(image, rows, width, height);
  }
  return out;
}

std::optional<RgbaImage> Resample(const RgbaImage& image, int width, int height, int quarterTurns) {
  return ResampleWith(image, width, height, quarterTurns, ChosenKernels());
}

std::optional<RgbaImage> ResampleRows(RowSource& source, int inWidth, int inHeight, int width,
                                      int height, int quarterTurns) {
  if (inWidth < 1 || inHeight < 1 || width < 1 || height < 1) return std::nullopt;
  const bool sideways = quarterTurns % 2 != 0;
  std::optional<RgbaImage> out =
      MakeUnfilledImage(sideways ? height : width, sideways ? width : height);
  if (!out) return std::nullopt;
  TurnedRows rows(*out, width, height, quarterTurns);
  if (!ResampleFixed(source, inWidth, inHeight, rows, width, height, ChosenKernels())) {
    return std::nullopt;
  }
  return out;
}

}  // namespace sheetsmith
