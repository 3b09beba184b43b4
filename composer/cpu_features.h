// What the processor (and the system, which must save the wider registers)
// supports beyond the x86-64 baseline, for kernels chosen at run time.
#pragma once

namespace sheetsmith {

// True when code built for AVX2 may run here. Always false off x86-64.
bool ProcessorHasAvx2();

}  // namespace sheetsmith
