// The resampler's kernels for processors with AVX2. This file alone is
// compiled for AVX2; nothing here runs unless the processor was found to
// have it.
#include <immintrin.h>

#include <cstring>

#include "imaging/pixels/resample_kernels.h"

namespace sheetsmith {

void VerticalRowAvx2(const std::uint8_t* const* rows, const std::int32_t* pairWeights,
                     int pairCount, int weightBits, std::int16_t* middle, std::size_t values) {
  const int shift = weightBits - kMiddleBits;
  const std::int32_t bias = (1 << (shift - 1)) - (128 << weightBits);
  const __m256i zero = _mm256_setzero_si256();
  const __m256i vectorBias = _mm256_set1_epi32(bias);
  const __m128i shiftCount = _mm_cvtsi32_si128(shift);
  const std::size_t vectorEnd = values / 32 * 32;
  for (std::size_t i = 0; i < vectorEnd; i += 32) {
    // Lane by lane: sum0 values 0-3 | 16-19, sum1 4-7 | 20-23,
    // sum2 8-11 | 24-27, sum3 12-15 | 28-31.
    __m256i sum0 = zero, sum1 = zero, sum2 = zero, sum3 = zero;
    for (int p = 0; p < pairCount; ++p) {
      const __m256i weights = _mm256_set1_epi32(pairWeights[p]);
      const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rows[2 * p] + i));
      const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rows[2 * p + 1] + i));
      const __m256i low = _mm256_unpacklo_epi8(a, b);
      const __m256i high = _mm256_unpackhi_epi8(a, b);
      sum0 = _mm256_add_epi32(sum0, _mm256_madd_epi16(_mm256_unpacklo_epi8(low, zero), weights));
      sum1 = _mm256_add_epi32(sum1, _mm256_madd_epi16(_mm256_unpackhi_epi8(low, zero), weights));
      sum2 = _mm256_add_epi32(sum2, _mm256_madd_epi16(_mm256_unpacklo_epi8(high, zero), weights));
      sum3 = _mm256_add_epi32(sum3, _mm256_madd_epi16(_mm256_unpackhi_epi8(high, zero), weights));
    }
    sum0 = _mm256_sra_epi32(_mm256_add_epi32(sum0, vectorBias), shiftCount);
    sum1 = _mm256_sra_epi32(_mm256_add_epi32(sum1, vectorBias), shiftCount);
    sum2 = _mm256_sra_epi32(_mm256_add_epi32(sum2, vectorBias), shiftCount);
    sum3 = _mm256_sra_epi32(_mm256_add_epi32(sum3, vectorBias), shiftCount);
    const __m256i first = _mm256_packs_epi32(sum0, sum1);   // 0-7 | 16-23
    const __m256i second = _mm256_packs_epi32(sum2, sum3);  // 8-15 | 24-31
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(middle + i),
                        _mm256_permute2x128_si256(first, second, 0x20));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(middle + i + 16),
                        _mm256_permute2x128_si256(first, second, 0x31));
  }
  for (std::size_t i = vectorEnd; i < values; ++i) {
    std::int32_t sum = 0;
    for (int p = 0; p < pairCount; ++p) {
      sum += static_cast<std::int16_t>(pairWeights[p] & 0xFFFF) * rows[2 * p][i] +
             static_cast<std::int16_t>(pairWeights[p] >> 16) * rows[2 * p + 1][i];
    }
    middle[i] = static_cast<std::int16_t>((sum + bias) >> shift);
  }
  _mm256_zeroupper();
}

void HorizontalRowAvx2(const std::int16_t* middle, const FixedAxis& columns, int outWidth,
                       std::uint8_t* target) {
  const int shift = columns.weightBits + kMiddleBits;
  const std::int32_t bias = (1 << (shift - 1)) + (128 << shift);
  const __m256i vectorBias = _mm256_set1_epi32(bias);
  const __m128i shiftCount = _mm_cvtsi32_si128(shift);
  const __m256i spread = _mm256_setr_epi32(0, 0, 0, 0, 1, 1, 1, 1);
  const int pairs = columns.pairs;
  int x = 0;
  // Two output pixels at a time, one in each lane.
  for (; x + 1 < outWidth; x += 2) {
    const std::int16_t* a = middle + static_cast<std::size_t>(columns.first[x]) * 4;
    const std::int16_t* b = middle + static_cast<std::size_t>(columns.first[x + 1]) * 4;
    const int count = columns.pairCount[x] > columns.pairCount[x + 1] ? columns.pairCount[x]
                                                                      : columns.pairCount[x + 1];
    const std::int32_t* weights =
        &columns.pairWeightsByTwos[static_cast<std::size_t>(x / 2) * pairs * 2];
    __m256i total = _mm256_setzero_si256();
    for (int p = 0; p < count; ++p) {
      const __m256i pixels = _mm256_inserti128_si256(
          _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + p * 8))),
          _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + p * 8)), 1);
      // Channel c of both taps side by side, to be multiplied by the pair.
      const __m256i interleaved = _mm256_unpacklo_epi16(pixels, _mm256_srli_si256(pixels, 8));
      const __m256i pairWeights = _mm256_permutevar8x32_epi32(
          _mm256_castsi128_si256(
              _mm_loadl_epi64(reinterpret_cast<const __m128i*>(weights + p * 2))),
          spread);
      total = _mm256_add_epi32(total, _mm256_madd_epi16(interleaved, pairWeights));
    }
    total = _mm256_sra_epi32(_mm256_add_epi32(total, vectorBias), shiftCount);
    const __m256i words = _mm256_packs_epi32(total, total);
    const __m256i bytes = _mm256_packus_epi16(words, words);
    const std::int32_t first = _mm256_extract_epi32(bytes, 0);
    const std::int32_t second = _mm256_extract_epi32(bytes, 4);
    std::memcpy(target + x * 4, &first, 4);
    std::memcpy(target + x * 4 + 4, &second, 4);
  }
  for (; x < outWidth; ++x) {
    const std::int16_t* a = middle + static_cast<std::size_t>(columns.first[x]) * 4;
    const std::int32_t* weights = &columns.pairWeights[static_cast<std::size_t>(x) * pairs];
    __m128i total = _mm_setzero_si128();
    for (int p = 0; p < columns.pairCount[x]; ++p) {
      const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + p * 8));
      const __m128i interleaved = _mm_unpacklo_epi16(pixels, _mm_srli_si128(pixels, 8));
      total = _mm_add_epi32(total, _mm_madd_epi16(interleaved, _mm_set1_epi32(weights[p])));
    }
    total = _mm_sra_epi32(_mm_add_epi32(total, _mm256_castsi256_si128(vectorBias)), shiftCount);
    const __m128i words = _mm_packs_epi32(total, total);
    const std::int32_t value = _mm_cvtsi128_si32(_mm_packus_epi16(words, words));
    std::memcpy(target + x * 4, &value, 4);
  }
  _mm256_zeroupper();
}

}  // namespace sheetsmith
