// The JPEG writer's kernels for processors with AVX2: eight values at a time
// where the portable kernels do four, with the same operations in the same
// order (and no fused multiply-add, which would round once where the
// reference rounds twice). This file alone is compiled for AVX2; nothing
// here runs unless the processor was found to have it.
#include <immintrin.h>

#include <cstdint>

#if defined(_MSC_VER)
#pragma fp_contract(off)
#endif

namespace sheetsmith {

void ToYCbCrAvx2(const std::uint8_t* rgba, int count, float* y, float* cb, float* cr) {
  const __m256i byteMask = _mm256_set1_epi32(0xFF);
  const __m256 yr = _mm256_set1_ps(0.29900f), yg = _mm256_set1_ps(0.58700f),
               yb = _mm256_set1_ps(0.11400f);
  const __m256 ur = _mm256_set1_ps(-0.16874f), ug = _mm256_set1_ps(0.33126f),
               ub = _mm256_set1_ps(0.50000f);
  const __m256 vr = _mm256_set1_ps(0.50000f), vg = _mm256_set1_ps(0.41869f),
               vb = _mm256_set1_ps(0.08131f);
  const __m256 shift = _mm256_set1_ps(128.0f);
  for (int i = 0; i < count; i += 8) {
    const __m256i p = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rgba + i * 4));
    const __m256 r = _mm256_cvtepi32_ps(_mm256_and_si256(p, byteMask));
    const __m256 g = _mm256_cvtepi32_ps(_mm256_and_si256(_mm256_srli_epi32(p, 8), byteMask));
    const __m256 b = _mm256_cvtepi32_ps(_mm256_and_si256(_mm256_srli_epi32(p, 16), byteMask));
    _mm256_storeu_ps(
        y + i, _mm256_sub_ps(_mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(yr, r), _mm256_mul_ps(yg, g)),
                                           _mm256_mul_ps(yb, b)),
                             shift));
    _mm256_storeu_ps(cb + i, _mm256_add_ps(_mm256_sub_ps(_mm256_mul_ps(ur, r), _mm256_mul_ps(ug, g)),
                                           _mm256_mul_ps(ub, b)));
    _mm256_storeu_ps(cr + i, _mm256_sub_ps(_mm256_sub_ps(_mm256_mul_ps(vr, r), _mm256_mul_ps(vg, g)),
                                           _mm256_mul_ps(vb, b)));
  }
  _mm256_zeroupper();
}

namespace {

// The one-dimensional DCT of eight vectors, lane by lane the reference
// writer's arithmetic.
inline void Dct8(__m256 d[8]) {
  const __m256 c4 = _mm256_set1_ps(0.707106781f);
  const __m256 c6 = _mm256_set1_ps(0.382683433f);
  const __m256 c2MinusC6 = _mm256_set1_ps(0.541196100f);
  const __m256 c2PlusC6 = _mm256_set1_ps(1.306562965f);
  const __m256 tmp0 = _mm256_add_ps(d[0], d[7]);
  const __m256 tmp7 = _mm256_sub_ps(d[0], d[7]);
  const __m256 tmp1 = _mm256_add_ps(d[1], d[6]);
  const __m256 tmp6 = _mm256_sub_ps(d[1], d[6]);
  const __m256 tmp2 = _mm256_add_ps(d[2], d[5]);
  const __m256 tmp5 = _mm256_sub_ps(d[2], d[5]);
  const __m256 tmp3 = _mm256_add_ps(d[3], d[4]);
  const __m256 tmp4 = _mm256_sub_ps(d[3], d[4]);

  __m256 tmp10 = _mm256_add_ps(tmp0, tmp3);
  const __m256 tmp13 = _mm256_sub_ps(tmp0, tmp3);
  __m256 tmp11 = _mm256_add_ps(tmp1, tmp2);
  __m256 tmp12 = _mm256_sub_ps(tmp1, tmp2);
  d[0] = _mm256_add_ps(tmp10, tmp11);
  d[4] = _mm256_sub_ps(tmp10, tmp11);
  const __m256 z1 = _mm256_mul_ps(_mm256_add_ps(tmp12, tmp13), c4);
  d[2] = _mm256_add_ps(tmp13, z1);
  d[6] = _mm256_sub_ps(tmp13, z1);

  tmp10 = _mm256_add_ps(tmp4, tmp5);
  tmp11 = _mm256_add_ps(tmp5, tmp6);
  tmp12 = _mm256_add_ps(tmp6, tmp7);
  const __m256 z5 = _mm256_mul_ps(_mm256_sub_ps(tmp10, tmp12), c6);
  const __m256 z2 = _mm256_add_ps(_mm256_mul_ps(tmp10, c2MinusC6), z5);
  const __m256 z4 = _mm256_add_ps(_mm256_mul_ps(tmp12, c2PlusC6), z5);
  const __m256 z3 = _mm256_mul_ps(tmp11, c4);
  const __m256 z11 = _mm256_add_ps(tmp7, z3);
  const __m256 z13 = _mm256_sub_ps(tmp7, z3);
  d[5] = _mm256_add_ps(z13, z2);
  d[3] = _mm256_sub_ps(z13, z2);
  d[1] = _mm256_add_ps(z11, z4);
  d[7] = _mm256_sub_ps(z11, z4);
}

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
  Dct8(rows);
  Transpose8(rows);
  Dct8(rows);
  const __m256 half = _mm256_set1_ps(0.5f);
  const __m256 sign = _mm256_set1_ps(-0.0f);
  __m256i rounded[8];
  for (int r = 0; r < 8; ++r) {
    const __m256 v = _mm256_mul_ps(rows[r], _mm256_loadu_ps(divisors + r * 8));
    rounded[r] =
        _mm256_cvttps_epi32(_mm256_add_ps(v, _mm256_or_ps(half, _mm256_and_ps(v, sign))));
  }
  const __m256i zero = _mm256_setzero_si256();
  std::uint64_t zeros = 0;
  for (int r = 0; r < 8; r += 4) {
    // Two rows a vector, back in order after the in-lane packing.
    const __m256i first = _mm256_permute4x64_epi64(_mm256_packs_epi32(rounded[r], rounded[r + 1]), 0xD8);
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
