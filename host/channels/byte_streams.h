// Byte streams of the standard codec. Multi-byte numbers are little-endian;
// positions count from the first byte of the message, which is what the
// alignment of reals and typed lists refers to.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace runner {

// Reads a message that came from outside, so never past its end.
//
// A read of one byte past the end writes "Invalid read in
// StandardCodecByteStreamReader" to standard error and yields 0; a read of
// several bytes that would pass the end writes the same line and leaves the
// destination unchanged. A message found to lie about its sizes is marked
// malformed: reading stops there and every later read yields zeros silently.
class ByteStreamReader {
 public:
  ByteStreamReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  std::uint8_t ReadByte();
  void ReadBytes(std::uint8_t* destination, std::size_t count);
  void ReadAlignment(std::size_t alignment);

  template <typename T>
  T ReadNumber() {
    std::uint8_t bytes[sizeof(T)] = {};
    ReadBytes(bytes, sizeof(T));
    T value;
    std::memcpy(&value, bytes, sizeof(T));  // x86-64 and ARM64 Windows are little-endian
    return value;
  }

  std::size_t position() const { return position_; }
  std::size_t remaining() const { return position_ >= size_ ? 0 : size_ - position_; }
  bool malformed() const { return malformed_; }
  // Stops reading: the rest of the message cannot be trusted.
  void MarkMalformed();

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t position_ = 0;
  bool malformed_ = false;
};

class ByteStreamWriter {
 public:
  explicit ByteStreamWriter(std::vector<std::uint8_t>* buffer) : buffer_(buffer) {}

  void WriteByte(std::uint8_t byte) { buffer_->push_back(byte); }
  void WriteBytes(const std::uint8_t* data, std::size_t count) {
    if (count > 0) buffer_->insert(buffer_->end(), data, data + count);
  }
  void WriteAlignment(std::size_t alignment) {
    while (buffer_->size() % alignment != 0) buffer_->push_back(0);
  }
  template <typename T>
  void WriteNumber(T value) {
    std::uint8_t bytes[sizeof(T)];
    std::memcpy(bytes, &value, sizeof(T));
    WriteBytes(bytes, sizeof(T));
  }

 private:
  std::vector<std::uint8_t>* buffer_;
};

}  // namespace runner
