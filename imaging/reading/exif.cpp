// The EXIF orientation and capture time, read from an EXIF block's IFDs.
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

// One IFD entry: its tag, type, count and the position of its value.
struct IfdEntry {
  std::uint32_t tag = 0;
  std::uint32_t type = 0;
  std::uint64_t count = 0;
  std::uint64_t value = 0;  // where the value is: in the entry, or at its offset
};

// Calls `visit` for each entry of the IFD at `ifd` that lies inside the block.
template <typename Visit>
void ForEachEntry(const std::uint8_t* tiff, std::uint64_t size, std::uint64_t ifd,
                  bool littleEndian, Visit visit) {
  if (ifd + 2 > size) return;
  const std::uint32_t entries = Read16(tiff + ifd, littleEndian);
  for (std::uint32_t j = 0; j < entries; ++j) {
    const std::uint64_t at = ifd + 2 + 12ull * j;
    if (at + 12 > size) return;
    IfdEntry entry;
    entry.tag = Read16(tiff + at, littleEndian);
    entry.type = Read16(tiff + at + 2, littleEndian);
    entry.count = Read32(tiff + at + 4, littleEndian);
    // A value of four bytes or fewer is kept in the entry itself; the values
    // read here (ASCII, a single LONG) are that small exactly when their
    // count is at most four.
    entry.value = entry.count <= 4 ? at + 8 : Read32(tiff + at + 8, littleEndian);
    visit(entry);
  }
}

// An ASCII value up to its first NUL, or nothing when it is not one.
std::optional<std::string> AsciiValue(const std::uint8_t* tiff, std::uint64_t size,
                                      const IfdEntry& entry) {
  constexpr std::uint32_t kAscii = 2;
  if (entry.type != kAscii || entry.count == 0 || entry.value + entry.count > size) {
    return std::nullopt;
  }
  std::string text(reinterpret_cast<const char*>(tiff + entry.value),
                   static_cast<std::size_t>(entry.count));
  text.resize(std::min(text.find('\0'), text.size()));
  if (text.empty()) return std::nullopt;
  return text;
}

}  // namespace

ExifTimes ExifTimesFromTiff(const std::uint8_t* tiff, std::size_t n) {
  ExifTimes times;
  const std::uint64_t size = n;
  if (size < 8) return times;
  const bool littleEndian = tiff[0] == 0x49;
  std::optional<std::uint64_t> exifIfd;
  ForEachEntry(tiff, size, Read32(tiff + 4, littleEndian), littleEndian,
               [&](const IfdEntry& entry) {
                 if (entry.tag == 0x0132) times.changed = AsciiValue(tiff, size, entry);
                 if (entry.tag == 0x8769 && entry.count == 1) {
                   exifIfd = Read32(tiff + entry.value, littleEndian);
                 }
               });
  if (exifIfd) {
    ForEachEntry(tiff, size, *exifIfd, littleEndian, [&](const IfdEntry& entry) {
      if (entry.tag == 0x9003) times.taken = AsciiValue(tiff, size, entry);
    });
  }
  return times;
}

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

std::string_view JpegExifBlock(std::string_view file) {
  const auto* data = reinterpret_cast<const std::uint8_t*>(file.data());
  const std::uint64_t size = file.size();
  if (size < 7 || data[0] != 0xFF || data[1] != 0xD8) return {};
  std::uint64_t pos = 2;
  while (pos + 4 < size) {
    if (data[pos] != 0xFF) return {};
    const std::uint8_t marker = data[pos + 1];
    const std::uint32_t length = Read16(data + pos + 2, false);
    if (marker == 0xDA) return {};
    if (marker == 0xE1 && length >= 8) {
      if (pos + 10 > size) return {};
      if (std::memcmp(data + pos + 4, "Exif\0\0", 6) == 0) {
        if (pos + 18 > size) return {};
        // The TIFF block runs to the segment's end or the bytes' end.
        const std::uint64_t end = std::min<std::uint64_t>(size, pos + 2 + length);
        return file.substr(static_cast<std::size_t>(pos + 10),
                           static_cast<std::size_t>(end - pos - 10));
      }
    }
    pos += length + 2;
  }
  return {};
}

int ExifOrientationFromBytes(const std::uint8_t* data, std::size_t n) {
  const std::string_view tiff =
      JpegExifBlock(std::string_view(reinterpret_cast<const char*>(data), n));
  if (tiff.empty()) return 1;
  return ExifOrientationFromTiff(reinterpret_cast<const std::uint8_t*>(tiff.data()), tiff.size());
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
