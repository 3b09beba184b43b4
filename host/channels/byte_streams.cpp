// The codec's byte reader and writer, with their bounds checks.
#include "byte_streams.h"

#include <cstdio>

namespace runner {
namespace {

void ReportInvalidRead() {
  std::fputs("Invalid read in StandardCodecByteStreamReader\n", stderr);
  std::fflush(stderr);
}

}  // namespace

std::uint8_t ByteStreamReader::ReadByte() {
  if (malformed_) return 0;
  if (position_ >= size_) {
    ReportInvalidRead();
    return 0;
  }
  return data_[position_++];
}

void ByteStreamReader::ReadBytes(std::uint8_t* destination, std::size_t count) {
  if (malformed_) return;
  if (count > remaining()) {
    ReportInvalidRead();
    return;
  }
  if (count > 0) std::memcpy(destination, data_ + position_, count);
  position_ += count;
}

void ByteStreamReader::ReadAlignment(std::size_t alignment) {
  if (malformed_) return;
  const std::size_t mod = position_ % alignment;
  if (mod != 0) position_ += alignment - mod;
}

void ByteStreamReader::MarkMalformed() {
  if (!malformed_) ReportInvalidRead();
  malformed_ = true;
  position_ = size_;
}

}  // namespace runner
