// The EXIF orientation of a photo: a JPEG's, read from the first 64 KiB of
// the file, or that of an EXIF block another format carries; and the capture
// time such a block holds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sheetsmith {

inline constexpr std::size_t kExifProbeBytes = 65536;

// The orientation tag (0x0112) of the first IFD of the file's EXIF segment;
// 1 when the file cannot be read, is not a JPEG, or has no such tag.
int ReadExifOrientation(const std::string& path);

// The same rule over bytes already in memory (the file's first bytes).
int ExifOrientationFromBytes(const std::uint8_t* data, std::size_t size);

// The orientation tag of the first IFD of an EXIF block that starts at its
// TIFF header ("II*\0" or "MM\0*"), as HEIF and WebP files carry it; 1 when
// the block has no such tag or is too short.
int ExifOrientationFromTiff(const std::uint8_t* tiff, std::size_t size);

// The EXIF block (from its TIFF header on) of a JPEG's APP1 "Exif" segment
// among the file's first bytes; empty when there is none before the scan.
std::string_view JpegExifBlock(std::string_view file);

// The times an EXIF block (from its TIFF header on) holds, as stored
// ("YYYY:MM:DD HH:MM:SS"): DateTimeOriginal (0x9003) of the Exif IFD that
// tag 0x8769 points to, and DateTime (0x0132) of the first IFD. A value that
// is not ASCII, is empty or lies outside the block is left out.
struct ExifTimes {
  std::optional<std::string> taken;
  std::optional<std::string> changed;
};
ExifTimes ExifTimesFromTiff(const std::uint8_t* tiff, std::size_t size);

// Quarter turns clockwise that bring stored pixels upright: 2 for 3, 1 for 6,
// 3 for 8, none for any other value (the mirrored ones are used as stored).
int UprightQuarterTurns(int orientation);

}  // namespace sheetsmith
