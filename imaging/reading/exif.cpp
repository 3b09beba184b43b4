// The EXIF orientation read from a JPEG's APP1 segment.
#include "imaging/reading/exif.h"

#include <algorithm>
#include <cstring>

#include "imaging/system/file_io.h"

namespace sheetsmith {
namespace {

std::uint32_t Read16(const std::uint8_t* p, bool littleEndian) {
  return littleEndian ? p[0] | (p[1] << 8) : (p[0] << 8) | p[1];
}

std::uint32_t Read32(const std::uint8_t* p, bool littleEndian) {
  return littleEndian ? p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t{p[3]} << 24)
                      : (std::uint32_t{p[0]} << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
}

}  // namespace

int ExifOrientationFromTiff(const std::uint8_t* tiff, std::size_t n) {
  // Positions are 64-bit so that offsets read from the file cannot wrap.
  const std::uint64_t size = n;
  if (size < 8) return 1;
  const bool littleEndian = tiff[0] == 0x49;
  const std::uint64_t ifd = Read32(tiff + 4, littleEndian);
  if (ifd + 2 > size) return 1;
  const std::uint32_t entries = Read16(tiff + ifd, littleEndian);
  for (std::uint32_t j = 0; j < entries; ++j) {
    const std::uint64_t entry = ifd + 2 + 12ull * j;
    if (entry + 12 > size) break;
    if (Read16(tiff + entry, littleEndian) == 0x0112) {
      return static_cast<int>(Read16(tiff + entry + 8, littleEndian));
    }
  }
  return 1;
}

int ExifOrientationFromBytes(const std::uint8_t* data, std::size_t n) {
  if (n < 7 || data[0] != 0xFF || data[1] != 0xD8) return 1;
  const std::uint64_t size = n;
  std::uint64_t pos = 2;
  while (pos + 4 < size) {
    if (data[pos] != 0xFF) return 1;
    const std::uint8_t marker = data[pos + 1];
    const std::uint32_t length = Read16(data + pos + 2, false);
    if (marker == 0xDA) return 1;
    if (marker == 0xE1 && length >= 8) {
      if (pos + 10 > size) return 1;
      if (std::memcmp(data + pos + 4, "Exif\0\0", 6) == 0) {
        if (pos + 18 > size) return 1;
        // The TIFF block runs to the segment's end or the bytes' end.
        const std::uint64_t end = std::min<std::uint64_t>(size, pos + 2 + length);
        return ExifOrientationFromTiff(data + pos + 10, static_cast<std::size_t>(end - pos - 10));
      }
    }
    pos += length + 2;
  }
  return 1;
}

int ReadExifOrientation(const std::string& path) {
  const std::optional<std::string> head = ReadFilePrefix(path, kExifProbeBytes);
  if (!head) return 1;
  return ExifOrientationFromBytes(reinterpret_cast<const std::uint8_t*>(head->data()),
                                  head->size());
}

int UprightQuarterTurns(int orientation) {
  switch (orientation) {
    case 3:
      return 2;
    case 6:
      return 1;
    case 8:
      return 3;
    default:
      return 0;
  }
}

}  // namespace sheetsmith
