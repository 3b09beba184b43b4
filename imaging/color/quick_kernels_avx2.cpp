// The quick road's loop for processors with AVX2: eight pixels of four bytes
// at a time, the tables read by gathers. This file alone is compiled for
// AVX2; nothing here runs unless the processor was found to have it.
#include <immintrin.h>

#include "imaging/color/quick_kernels.h"

namespace sheetsmith {

namespace {

template <int kRedShift, int kBlueShift>
void EightAtATime(const QuickTables& t, std::uint8_t* pixels, std::size_t groups) {
  const __m256i byte = _mm256_set1_epi32(0xFF);
  const __m256i kept = _mm256_set1_epi32(~((0xFF << kRedShift) | 0xFF00 | (0xFF << kBlueShift)));
  const __m256i round = _mm256_set1_epi32(0x2000);
  const __m256i zero = _mm256_setzero_si256();
  const __m256i top = _mm256_set1_epi32(QuickTables::kSteps);
  __m256i m[3][3];
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) m[r][c] = _mm256_set1_epi32(t.matrix[r][c]);
  for (std::size_t k = 0; k < groups; ++k) {
    auto* at = reinterpret_cast<__m256i*>(pixels + k * 32);
    const __m256i p = _mm256_loadu_si256(at);
    const __m256i r =
        _mm256_i32gather_epi32(t.in[0], _mm256_and_si256(_mm256_srli_epi32(p, kRedShift), byte), 4);
    const __m256i g =
        _mm256_i32gather_epi32(t.in[1], _mm256_and_si256(_mm256_srli_epi32(p, 8), byte), 4);
    const __m256i b = _mm256_i32gather_epi32(
        t.in[2], _mm256_and_si256(_mm256_srli_epi32(p, kBlueShift), byte), 4);
    __m256i result = _mm256_and_si256(p, kept);
    const int shifts[3] = {kRedShift, 8, kBlueShift};
    for (int c = 0; c < 3; ++c) {
      __m256i sum =
          _mm256_add_epi32(_mm256_mullo_epi32(m[c][0], r), _mm256_mullo_epi32(m[c][1], g));
      sum = _mm256_add_epi32(sum, _mm256_mullo_epi32(m[c][2], b));
      sum = _mm256_srai_epi32(_mm256_add_epi32(sum, round), 14);
      sum = _mm256_min_epi32(_mm256_max_epi32(sum, zero), top);
      // Four bytes read from the step's byte on; the first is the level.
      const __m256i level = _mm256_and_si256(
          _mm256_i32gather_epi32(reinterpret_cast<const int*>(t.out[c]), sum, 1), byte);
      result = _mm256_or_si256(result, _mm256_sll_epi32(level, _mm_cvtsi32_si128(shifts[c])));
    }
    _mm256_storeu_si256(at, result);
  }
}

}  // namespace

void QuickAvx2Kernel(const QuickTables& tables, std::uint8_t* pixels, std::size_t count,
                     std::size_t step, int red, int blue) {
  std::size_t done = 0;
  if (step == 4 && red == 0 && blue == 2) {
    done = count / 8 * 8;
    EightAtATime<0, 16>(tables, pixels, count / 8);
  } else if (step == 4 && red == 2 && blue == 0) {
    done = count / 8 * 8;
    EightAtATime<16, 0>(tables, pixels, count / 8);
  }
  QuickPortable(tables, pixels + done * step, count - done, step, red, blue);
}

}  // namespace sheetsmith
