// The profiles photos carry, read out of their files (a JPEG's APP2
// "ICC_PROFILE" chunks, a PNG's iCCP chunk), and the segments that carry a
// profile into a JPEG file the programs write. Only the bytes: whether a
// profile can be used is for the colour plan to say.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sheetsmith {

// How much of a photo file is read for the profile it carries, where the
// file is not decoded by the composer's own reader: the profile comes before
// the picture's data, after at most the EXIF block.
inline constexpr std::size_t kPhotoStartBytes = std::size_t{4} << 20;

// The profile a photo carries.
struct EmbeddedProfile {
  enum class State { kNone, kFound, kDamaged };
  State state = State::kNone;
  std::string bytes;    // when found
  std::string problem;  // when damaged
};

// The profile held by a JPEG's APP2 segments, given their data (what follows
// each segment's length, "ICC_PROFILE" and NUL first), joined by their
// numbers. `cutShort`: the file ended inside a segment.
EmbeddedProfile JoinIccChunks(const std::vector<std::string_view>& app2Segments,
                              bool cutShort = false);

// The profile of a PNG's iCCP chunk data (name, NUL, method, compressed).
EmbeddedProfile IccpProfile(std::string_view chunkData);

// The profile a photo carries, read from the file's first bytes: a JPEG's
// APP2 "ICC_PROFILE" chunks joined in order, or a PNG's iCCP chunk inflated.
EmbeddedProfile FindEmbeddedProfile(std::string_view file);

// The APP2 segments (marker included) that carry a profile in a JPEG file:
// "ICC_PROFILE", NUL, the chunk's number from 1 and the count, at most 65519
// bytes of the profile each; none for a profile beyond kMaxCarriedProfileBytes.
std::vector<std::string> IccSegments(std::string_view profile);

// The most a JPEG file's chunks carry: 255 of them, numbered by one byte.
inline constexpr std::size_t kMaxIccChunkData = 65519;
inline constexpr std::size_t kMaxCarriedProfileBytes = 255 * kMaxIccChunkData;

// The JPEG with the segments put after its start (and its JFIF segment, which
// must come first); nullopt when the bytes do not start as a JPEG.
std::optional<std::string> EmbedSegments(std::string_view jpeg,
                                         const std::vector<std::string>& segments);

}  // namespace sheetsmith
