// The format of a photo file, told by its first bytes, never by its name: a
// ".jpg" that holds a HEIC is a HEIC.
#pragma once

#include <cstddef>
#include <string_view>

namespace sheetsmith {

enum class PhotoFormat { kUnknown, kJpeg, kPng, kGif, kBmp, kPsd, kHeic, kAvif, kWebp };

// How many first bytes SniffPhotoFormat needs at most (an ISO file's ftyp
// box with its compatible brands).
inline constexpr std::size_t kFormatProbeBytes = 512;

// The format of a file that starts with `head`. A HEIF file ("ftyp" box) is
// AVIF when its major or a compatible brand is "avif" or "avis", HEIC when one
// is a HEVC brand ("heic", "heix", "heim", "heis", "hevc", "hevx") or the
// general "mif1"/"msf1" without AVIF's; a RIFF file of form "WEBP" is WebP.
PhotoFormat SniffPhotoFormat(std::string_view head);

// The format's name in messages: "JPEG", "HEIC", "AVIF", "WebP", ...
std::string_view PhotoFormatName(PhotoFormat format);

}  // namespace sheetsmith
