// The JPEG writer's arithmetic per block, in two builds: one for any x86-64
// processor (SSE2, or plain C++ elsewhere) and one for processors with AVX2,
// chosen once at run time. Both do the reference writer's floating-point
// operations in its order, so both give the same coefficients.
#pragma once

#include <cstdint>
#include <string_view>

#include "imaging/writing/jpeg_writer.h"

namespace sheetsmith {

struct JpegKernels {
  // Y (less 128), Cb and Cr of `count` RGBA pixels, a multiple of 8.
  void (*toYCbCr)(const std::uint8_t* rgba, int count, float* y, float* cb, float* cr);
  // The DCT of the 8 x 8 samples (rows `stride` floats apart; rows first,
  // then columns), each coefficient times its divisor and rounded half away
  // from zero, into values[64] in natural order (16-byte aligned). Returns
  // the mask of the natural positions whose value is zero.
  std::uint64_t (*quantise)(const float* samples, int stride, const float* divisors,
                            std::int16_t* values);
};

JpegKernels PortableJpegKernels();
// Null members when this build or this processor has no AVX2.
JpegKernels Avx2JpegKernels();
const JpegKernels& ChosenJpegKernels();

// Pictures of at least this many pixels are coded in parts; smaller ones
// are not worth a thread.
inline constexpr long long kPixelsCodedInParts = 1024 * 1024;

// EncodeJpeg with the given kernels (for tests that hold the sets to each
// other), the macroblocks split into `parts` runs of about equal length, each
// coded on a thread of its own and the bits joined in order: the file is the
// same, byte for byte, whatever the number of parts.
bool EncodeJpegWith(const RgbaImage& image, int quality, const JpegBytesSink& sink,
                    const JpegKernels& kernels, int parts = 1, std::string_view segments = {},
                    std::atomic<std::int64_t>* helperTime = nullptr);

}  // namespace sheetsmith
