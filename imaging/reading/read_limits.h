// What the photo readers refuse before they allocate anything for a file:
// no camera or phone makes a photo beyond these, and a header claiming more
// is a way to make a reader work or allocate for nothing.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sheetsmith {

// The longest side of any photo or frame, in pixels.
inline constexpr int kMaxPhotoSide = 1 << 16;
// The largest file read into memory whole (HEIF, AVIF and WebP files are):
// a phone's 48 MP HEIC is under 30 MB.
inline constexpr std::size_t kMaxCodedFileBytes = std::size_t{256} << 20;
// The most items a HEIF or AVIF file may list: a grid's tiles are items
// (a 12 MP phone photo has 48, a 200 MP one under 800).
inline constexpr std::uint32_t kMaxHeifItems = 4096;

}  // namespace sheetsmith
