// The counts inside a profile's tags checked against the bytes that would
// hold them, before Little CMS reads a tag. Little CMS sizes its tables by
// what a tag declares (a LUT's grid, channels and entries, a curve's entry
// count) and clears them before it finds the data missing, and it adds a
// multi-process element list's stages one by one to the end of a list, in
// time that grows with the square of their number. A profile whose tables
// are all backed by its own bytes, with a bounded number of elements, costs
// work and memory in proportion to its size, which kMaxProfileBytes bounds.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace sheetsmith {

// Multi-process elements in one tag: real profiles hold a handful.
inline constexpr std::size_t kMaxProcessElements = 256;
// Channels of a LUT or element: Little CMS takes up to 15 inputs and 16
// outputs; no photo's, frame's or display's profile comes near either.
inline constexpr unsigned kMaxLutChannels = 15;

// Why the tags of the profile in `bytes` (header and tag table included,
// as declared by its header) cannot be read safely, or nullopt when every
// table they declare lies within their bytes. Tags of types not named here
// are left to Little CMS, which reads them within their size.
std::optional<std::string> ReasonProfileTagsUnsafe(std::string_view bytes);

}  // namespace sheetsmith
