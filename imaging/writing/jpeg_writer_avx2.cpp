// The JPEG writer's kernels for processors with AVX2: eight values at a time
// where the portable kernels do four, with the same operations in the same
// order (and no fused multiply-add, which would round once where the
// reference rounds twice). This file alone is compiled for AVX2; nothing
// here runs unless the processor was found to have it.
#include <immintrin.h>

#include <cstdint>

#include "imaging/writing/jpeg_arithmetic.h"

#if defined(_MSC_VER)
#pragma fp_contract(off)
#endif

namespace sheetsmith {

namespace {

// Eight floats at a time.
struct Avx2Ops {
  static __m256 Add(__m256 a, __m256 b) { return _mm256_add_ps(a, b); }
  static __m256 Sub(__m256 a, __m256 b) { return _mm256_sub_ps(a, b); }
  static __m256 Mul(__m256 a, __m256 b) { return _mm256_mul_ps(a, b); }
  static __m256 Splat(float a) { return _mm256_set1_ps(a); }
};

}  // namespace

void ToYCbCrAvx2(const std::uint8_t* rgba, int count, float* y, float* cb, float* cr) {
  const __m256i byteMask = _mm256_set1_epi32(0xFF);
  for (int i = 0; i < count; i += 8) {
    const __m256i p = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rgba + i * 4));
    const __m256 r = _mm256_cvtepi32_ps(_mm256_and_si256(p, byteMask));
    const __m256 g = _mm256_cvtepi32_ps(_mm256_and_si256(_mm256_srli_epi32(p, 8), byteMask));
    const __m256 b = _mm256_cvtepi32_ps(_mm256_and_si256(_mm256_srli_epi32(p, 16), byteMask));
    __m256 luma, blue, red;
    YCbCrOf<__m256, Avx2Ops>(r, g, b, luma, blue, red);
    _mm256_storeu_ps(y + i, luma);
    _mm256_storeu_ps(cb + i, blue);
    _mm256_storeu_ps(cr + i, red);
  }
  _mm256_zeroupper();
}

namespace {

inline void Transpose8(__m256 r[8]) {
  const __m256 t0 = _mm256_unpacklo_ps(r[0], r[1]);
  const __m256 t1 = _mm256_unpackhi_ps(r[0], r[1]);
  const __m256 t2 = _mm256_unpacklo_ps(r[2], r[3]);
  const __m256 t3 = _mm256_unpackhi_ps(r[2], r[3]);
  const __m256 t4 = _mm256_unpacklo_ps(r[4], r[5]);
  const __m256 t5 = _mm256_unpackhi_ps(r[4], r[5]);
  const __m256 t6 = _mm256_unpacklo_ps(r[6], r[7]);
  const __m256 t7 = _mm256_unpackhi_ps(r[6], r[7]);
  const __m256 s0 = _mm256_shuffle_ps(t0, t2, 0x44);
  const __m256 s1 = _mm256_shuffle_ps(t0, t2, 0xEE);
  const __m256 s2 = _mm256_shuffle_ps(t1, t3, 0x44);
  const __m256 s3 = _mm256_shuffle_ps(t1, t3, 0xEE);
  const __m256 s4 = _mm256_shuffle_ps(t4, t6, 0x44);
  const __m256 s5 = _mm256_shuffle_ps(t4, t6, 0xEE);
  const __m256 s6 = _mm256_shuffle_ps(t5, t7, 0x44);
  const __m256 s7 = _mm256_shuffle_ps(t5, t7, 0xEE);
  r[0] = _mm256_permute2f128_ps(s0, s4, 0x20);
  r[1] = _mm256_permute2f128_ps(s1, s5, 0x20);
  r[2] = _mm256_permute2f128_ps(s2, s6, 0x20);
  r[3] = _mm256_permute2f128_ps(s3, s7, 0x20);
  r[4] = _mm256_permute2f128_ps(s0, s4, 0x31);
  r[5] = _mm256_permute2f128_ps(s1, s5, 0x31);
  r[6] = _mm256_permute2f128_ps(s2, s6, 0x31);
  r[7] = _mm256_permute2f128_ps(s3, s7, 0x31);
}

}  // namespace

std::uint64_t QuantiseAvx2(const float* samples, int stride, const float* divisors,
                           std::int16_t* values) {
  __m256 rows[8];
  for (int r = 0; r < 8; ++r) rows[r] = _mm256_loadu_ps(samples + r * stride);
  // Rows first: transposed, vector k holds column k of every row.
  Transpose8(rows);
  ForwardDct8<__m256, Avx2Ops>(rows);
  Transpose8(rows);
  ForwardDct8<__m256, Avx2Ops>(rows);
  const __m256 half = _mm256_set1_ps(0.5f);
  const __m256 sign = _mm256_set1_ps(-0.0f);
  __m256i rounded[8];
  for (int r = 0; r < 8; ++r) {
    const __m256 v = _mm256_mul_ps(rows[r], _mm256_loadu_ps(divisors + r * 8));
    rounded[r] = _mm256_cvttps_epi32(_mm256_add_ps(v, _mm256_or_ps(half, _mm256_and_ps(v, sign))));
  }
  const __m256i zero = _mm256_setzero_si256();
  std::uint64_t zeros = 0;
  for (int r = 0; r < 8; r += 4) {
    // Two rows a vector, back in order after the in-lane packing.
    const __m256i first =
        _mm256_permute4x64_epi64(_mm256_packs_epi32(rounded[r], rounded[r + 1]), 0xD8);
    const __m256i second =
        _mm256_permute4x64_epi64(_mm256_packs_epi32(rounded[r + 2], rounded[r + 3]), 0xD8);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(values + r * 8), first);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(values + r * 8 + 16), second);
    const __m256i isZero = _mm256_permute4x64_epi64(
        _mm256_packs_epi16(_mm256_cmpeq_epi16(first, zero), _mm256_cmpeq_epi16(second, zero)),
        0xD8);
    zeros |= static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm256_movemask_epi8(isZero)))
             << (r * 8);
  }
  _mm256_zeroupper();
  return zeros;
}

}  // namespace sheetsmith
