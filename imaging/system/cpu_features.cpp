// The processor's features, asked of CPUID once.
#include "imaging/system/cpu_features.h"

#if defined(_MSC_VER) && (defined(_M_X64) || defined(_M_IX86))
#include <intrin.h>
#endif

namespace sheetsmith {

bool ProcessorHasAvx2() {
#if defined(_MSC_VER) && (defined(_M_X64) || defined(_M_IX86))
  int info[4];
  __cpuid(info, 0);
  if (info[0] < 7) return false;
  __cpuid(info, 1);
  const bool osSavesVectors = (info[2] & (1 << 27)) != 0;
  const bool avx = (info[2] & (1 << 28)) != 0;
  // The system must save the vector registers' upper halves.
  if (!osSavesVectors || !avx || (_xgetbv(0) & 6) != 6) return false;
  __cpuidex(info, 7, 0);
  return (info[1] & (1 << 5)) != 0;
#elif (defined(__GNUC__) || defined(__clang__)) && (defined(__x86_64__) || defined(__i386__))
  // GCC and Clang check the system's support along with the processor's.
  return __builtin_cpu_supports("avx2");
#else
  return false;
#endif
}

}  // namespace sheetsmith
