// The programs' JPEG writer: baseline JPEG files, bit for bit those that
// stb_image_write's writer makes of the same pixels at the same quality (its
// quantisation tables, its floating-point DCT and colour conversion, its
// rounding, the standard Huffman tables, 4:2:0 chroma up to quality 90 and
// 4:4:4 above), written several times faster:
//   - colour conversion, DCT and quantisation four values at a time, with the
//     very operations, in the very order, of the scalar code, so that every
//     coefficient comes out the same;
//   - a 64-bit bit buffer and a mask of the non-zero coefficients instead of
//     bit-at-a-time output and a scan of all 63;
//   - a block (or macroblock) of the same pixels as the one before it, which
//     margins and borders are made of, reuses that one's coefficients.
// Alpha is ignored.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

#include "imaging/pixels/rgba_image.h"

namespace sheetsmith {

// Takes the next piece of the file; false stops the writing.
using JpegBytesSink = std::function<bool(const std::uint8_t* bytes, std::size_t count)>;

// Encodes `image` at `quality` (0 means 90; otherwise clamped to 1..100)
// into `sink`, with `segments` (whole marker segments, such as the APP2
// segments of a colour profile) right after the JFIF segment. False when the
// image is empty, larger than a JPEG file can describe (65535 pixels a
// side), or the sink refused a piece. A large picture is coded in parts on
// helper threads; their time on the stage clock is added to `helperTime`
// when it is given (the caller times its own thread).
bool EncodeJpeg(const RgbaImage& image, int quality, const JpegBytesSink& sink,
                std::string_view segments = {}, std::atomic<std::int64_t>* helperTime = nullptr);

}  // namespace sheetsmith
