// The quick road's tables and its inner loops: one for any processor and one
// for processors with AVX2, chosen once at run time. Both compute exactly
// the same bytes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sheetsmith {

// Little CMS's own 8-bit road between two matrix/TRC profiles, in 1.14 fixed
// point: each byte through the source's curve to a light of 14 fraction
// bits; the 3 x 3 matrix (14 fraction bits) over the three, rounded to 14
// bits and clipped to 0 .. 1; each through a table of the target's inverted
// curve at 16385 points. Holding the same numbers gives its result exactly.
struct QuickTables {
  static constexpr int kSteps = 16384;
  std::int32_t in[3][256];    // at most kSteps
  std::int32_t matrix[3][3];  // at most 2.0 either way, so no sum overflows
  // Three bytes past the last step, so that a kernel may read four bytes at
  // any step.
  std::uint8_t out[3][kSteps + 4];
};

// Converts `count` pixels of `step` bytes in place, red at byte `red`, green
// at 1 and blue at `blue`; other bytes stay.
using QuickKernel = void (*)(const QuickTables& tables, std::uint8_t* pixels, std::size_t count,
                             std::size_t step, int red, int blue);

void QuickPortable(const QuickTables& tables, std::uint8_t* pixels, std::size_t count,
                   std::size_t step, int red, int blue);
// Null when this build or this processor has no AVX2.
QuickKernel QuickAvx2();
// The fastest this processor runs.
QuickKernel ChosenQuickKernel();

}  // namespace sheetsmith
