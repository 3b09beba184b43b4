// Big-endian numbers read out of file bytes, as ICC profiles, JPEG segments
// and PNG chunks store them. The caller checks that the bytes are there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace sheetsmith {

inline std::uint32_t ReadBigEndian32(std::string_view bytes, std::size_t at) {
  return (static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at])) << 24) |
         (static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 16) |
         (static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 2])) << 8) |
         static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 3]));
}

inline std::uint16_t ReadBigEndian16(std::string_view bytes, std::size_t at) {
  return static_cast<std::uint16_t>((static_cast<unsigned char>(bytes[at]) << 8) |
                                    static_cast<unsigned char>(bytes[at + 1]));
}

}  // namespace sheetsmith
