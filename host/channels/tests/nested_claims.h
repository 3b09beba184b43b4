// A hostile message for the decoder's memory: lists nested as deep as the
// decoder goes, each claiming as many elements as bytes remain after its
// count; the rest of the message is nulls.
#pragma once

#include <cstdint>
#include <vector>

#include "standard_codec.h"

namespace runner {

inline std::vector<std::uint8_t> NestedCountClaims(std::size_t size) {
  std::vector<std::uint8_t> message;
  for (int level = 0; level <= kMaxNestingDepth; ++level) {
    const std::size_t remaining = size - message.size() - 6;
    message.push_back(0x0C);
    message.push_back(0xFF);
    for (int shift = 0; shift < 32; shift += 8) {
      message.push_back(static_cast<std::uint8_t>(remaining >> shift));
    }
  }
  message.resize(size, 0x00);
  return message;
}

}  // namespace runner
