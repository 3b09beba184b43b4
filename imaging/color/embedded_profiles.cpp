// Profiles read out of JPEG and PNG files, and written into JPEG ones.
#include "imaging/color/embedded_profiles.h"

#include <map>

#include "imaging/color/profiles.h"
#include "imaging/system/byte_order.h"

// Only the zlib decoder of stb_image is used here, for PNG iCCP chunks; its
// functions stay private to this file.
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#define STBI_NO_STDIO
#include <stb_image.h>

namespace sheetsmith {
namespace {

std::uint32_t Crc32(std::string_view bytes) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (const char byte : bytes) {
    crc ^= static_cast<unsigned char>(byte);
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

constexpr std::string_view kIccChunkMark("ICC_PROFILE\0", 12);
constexpr std::size_t kMaxChunkData = 65535 - 2 - kIccChunkMark.size() - 2;
static_assert(kMaxChunkData == kMaxIccChunkData);

EmbeddedProfile Damaged(std::string problem) {
  EmbeddedProfile damaged;
  damaged.state = EmbeddedProfile::State::kDamaged;
  damaged.problem = std::move(problem);
  return damaged;
}

}  // namespace

EmbeddedProfile JoinIccChunks(const std::vector<std::string_view>& app2Segments, bool cutShort) {
  std::map<int, std::string_view> chunks;
  int count = -1;
  std::size_t total = 0;
  for (const std::string_view segment : app2Segments) {
    if (segment.size() < kIccChunkMark.size() + 2 ||
        segment.substr(0, kIccChunkMark.size()) != kIccChunkMark) {
      continue;
    }
    const int number = static_cast<unsigned char>(segment[12]);
    const int chunkCount = static_cast<unsigned char>(segment[13]);
    if (count >= 0 && chunkCount != count) return Damaged("its chunks disagree on their count");
    count = chunkCount;
    if (number < 1 || number > chunkCount) return Damaged("a chunk is numbered out of range");
    if (chunks.count(number)) return Damaged("a chunk comes twice");
    chunks[number] = segment.substr(kIccChunkMark.size() + 2);
    total += chunks[number].size();
    if (total > kMaxProfileBytes) return Damaged("it is larger than any profile");
  }
  if (chunks.empty()) return {};
  if (static_cast<int>(chunks.size()) != count) {
    return Damaged(cutShort ? "the file is cut short" : "a chunk is missing");
  }
  EmbeddedProfile found;
  found.state = EmbeddedProfile::State::kFound;
  found.bytes.reserve(total);
  for (const auto& [number, data] : chunks) found.bytes.append(data);
  return found;
}

EmbeddedProfile IccpProfile(std::string_view data) {
  const std::size_t nameEnd = data.find('\0');
  if (nameEnd == std::string_view::npos || nameEnd == 0 || nameEnd > 79 ||
      nameEnd + 2 > data.size() || data[nameEnd + 1] != 0) {
    return Damaged("its chunk is not laid out as PNG asks");
  }
  const std::string_view compressed = data.substr(nameEnd + 2);
  // Inflated into a buffer of a common profile's size, else of the largest
  // size taken: a chunk that would inflate past it is refused rather than
  // followed.
  std::string inflated;
  int size = -1;
  for (const std::size_t room : {std::size_t{1} << 16, kMaxProfileBytes}) {
    inflated.assign(room, '\0');
    size = stbi_zlib_decode_buffer(inflated.data(), static_cast<int>(room), compressed.data(),
                                   static_cast<int>(compressed.size()));
    if (size > 0) break;
  }
  if (size <= 0) return Damaged("its compressed data cannot be inflated");
  inflated.resize(static_cast<std::size_t>(size));
  EmbeddedProfile found;
  found.state = EmbeddedProfile::State::kFound;
  found.bytes = std::move(inflated);
  return found;
}

namespace {

EmbeddedProfile FromJpeg(std::string_view file) {
  std::vector<std::string_view> segments;
  bool cutShort = false;
  std::size_t at = 2;
  while (at + 4 <= file.size()) {
    if (static_cast<unsigned char>(file[at]) != 0xFF) break;
    const unsigned marker = static_cast<unsigned char>(file[at + 1]);
    if (marker == 0xFF) {  // fill byte
      ++at;
      continue;
    }
    if (marker == 0xDA || marker == 0xD9) break;  // the picture's data, or its end
    if ((marker >= 0xD0 && marker <= 0xD7) || marker == 0x01) {
      at += 2;
      continue;
    }
    const std::size_t length = ReadBigEndian16(file, at + 2);
    if (length < 2) break;
    if (at + 2 + length > file.size()) {
      cutShort = true;
      break;
    }
    if (marker == 0xE2) segments.push_back(file.substr(at + 4, length - 2));
    at += 2 + length;
  }
  return JoinIccChunks(segments, cutShort);
}

EmbeddedProfile FromPng(std::string_view file) {
  std::size_t at = 8;
  while (at + 12 <= file.size()) {
    const std::uint32_t length = ReadBigEndian32(file, at);
    const std::uint32_t type = ReadBigEndian32(file, at + 4);
    if (type == IccSignature("IDAT") || type == IccSignature("IEND")) break;
    const bool profile = type == IccSignature("iCCP");
    if (length > file.size() - at - 12) {
      if (profile) return Damaged("the file is cut short");
      break;
    }
    if (profile) {
      if (Crc32(file.substr(at + 4, length + 4)) != ReadBigEndian32(file, at + 8 + length)) {
        return Damaged("its chunk's checksum is wrong");
      }
      return IccpProfile(file.substr(at + 8, length));
    }
    at += 12 + length;
  }
  return {};
}

}  // namespace

EmbeddedProfile FindEmbeddedProfile(std::string_view file) {
  if (file.size() >= 2 && static_cast<unsigned char>(file[0]) == 0xFF &&
      static_cast<unsigned char>(file[1]) == 0xD8) {
    return FromJpeg(file);
  }
  if (file.size() >= 8 && file.substr(0, 8) == std::string_view("\x89PNG\r\n\x1A\n", 8)) {
    return FromPng(file);
  }
  return {};
}

std::vector<std::string> IccSegments(std::string_view profile) {
  std::vector<std::string> segments;
  const std::size_t count = (profile.size() + kMaxChunkData - 1) / kMaxChunkData;
  if (count == 0 || count > 255) return segments;
  for (std::size_t i = 0; i < count; ++i) {
    const std::string_view data = profile.substr(i * kMaxChunkData, kMaxChunkData);
    const std::size_t length = 2 + kIccChunkMark.size() + 2 + data.size();
    std::string segment("\xFF\xE2", 2);
    segment += static_cast<char>(length >> 8);
    segment += static_cast<char>(length & 0xFF);
    segment += kIccChunkMark;
    segment += static_cast<char>(i + 1);
    segment += static_cast<char>(count);
    segment += data;
    segments.push_back(std::move(segment));
  }
  return segments;
}

std::optional<std::string> EmbedSegments(std::string_view jpeg,
                                         const std::vector<std::string>& segments) {
  if (jpeg.size() < 4 || static_cast<unsigned char>(jpeg[0]) != 0xFF ||
      static_cast<unsigned char>(jpeg[1]) != 0xD8) {
    return std::nullopt;
  }
  std::size_t at = 2;
  if (static_cast<unsigned char>(jpeg[2]) == 0xFF && static_cast<unsigned char>(jpeg[3]) == 0xE0 &&
      jpeg.size() >= 6) {
    const std::size_t length = ReadBigEndian16(jpeg, 4);
    if (4 + length <= jpeg.size()) at = 2 + 2 + length;
  }
  std::string out(jpeg.substr(0, at));
  for (const std::string& segment : segments) out += segment;
  out += jpeg.substr(at);
  return out;
}

}  // namespace sheetsmith
