// The quick road's loop for any processor, and the choice between kernels.
#include "imaging/color/quick_kernels.h"

#include "imaging/system/cpu_features.h"

namespace sheetsmith {

#if KORVELA_AVX2_KERNELS
void QuickAvx2Kernel(const QuickTables& tables, std::uint8_t* pixels, std::size_t count,
                     std::size_t step, int red, int blue);
#endif

void QuickPortable(const QuickTables& t, std::uint8_t* pixels, std::size_t count, std::size_t step,
                   int red, int blue) {
  const auto level = [&t](int c, std::int32_t r, std::int32_t g, std::int32_t b) {
    std::int32_t v = (t.matrix[c][0] * r + t.matrix[c][1] * g + t.matrix[c][2] * b + 0x2000) >> 14;
    v = v < 0 ? 0 : v > QuickTables::kSteps ? QuickTables::kSteps : v;
    return t.out[c][v];
  };
  for (std::size_t i = 0; i < count; ++i) {
    std::uint8_t* p = pixels + i * step;
    const std::int32_t r = t.in[0][p[red]];
    const std::int32_t g = t.in[1][p[1]];
    const std::int32_t b = t.in[2][p[blue]];
    p[red] = level(0, r, g, b);
    p[1] = level(1, r, g, b);
    p[blue] = level(2, r, g, b);
  }
}

QuickKernel QuickAvx2() {
#if KORVELA_AVX2_KERNELS
  if (ProcessorHasAvx2()) return QuickAvx2Kernel;
#endif
  return nullptr;
}

QuickKernel ChosenQuickKernel() {
  static const QuickKernel chosen = [] {
    const QuickKernel avx2 = QuickAvx2();
    return avx2 ? avx2 : QuickPortable;
  }();
  return chosen;
}

}  // namespace sheetsmith
