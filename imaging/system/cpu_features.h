// What the processor (and the system, which must save the wider registers)
// supports beyond the x86-64 baseline, for kernels chosen at run time.
#pragma once

// Whether this build may use SSE2 everywhere (every x86-64 build can).
#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#include <emmintrin.h>
#define KORVELA_SSE2 1
#else
#define KORVELA_SSE2 0
#endif

namespace sheetsmith {

// True when code built for AVX2 may run here. Always false off x86-64.
bool ProcessorHasAvx2();

}  // namespace sheetsmith
