// The standard message codec: the byte format of every channel of the host,
// the same as the interface's side uses, byte for byte.
//
// A value is a type byte and its payload. Sizes take 1, 3 or 5 bytes (up to
// 253; 254 then 16 bits; 255 then 32 bits). Reals and typed lists are aligned
// to their element size from the start of the message, empty typed lists
// too, as the interface's codec writes and reads them.
//
// Memory stays in proportion to the message: no list is given room for more
// elements than it has read, so a count that claims the rest of the message
// (at every level of a nested list) costs nothing until its elements arrive.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "byte_streams.h"
#include "encodable_value.h"
#include "method_call.h"
#include "method_result.h"

namespace runner {

// Lists and maps nested deeper than this make a message malformed; the
// interface's own arguments are a few levels deep.
inline constexpr int kMaxNestingDepth = 64;

class StandardCodecSerializer {
 public:
  StandardCodecSerializer() = default;
  virtual ~StandardCodecSerializer() = default;
  StandardCodecSerializer(const StandardCodecSerializer&) = delete;
  StandardCodecSerializer& operator=(const StandardCodecSerializer&) = delete;

  static const StandardCodecSerializer& GetInstance();

  // Reads the type byte, then the value.
  EncodableValue ReadValue(ByteStreamReader& stream) const;
  void WriteValue(const EncodableValue& value, ByteStreamWriter& stream) const;

 protected:
  virtual EncodableValue ReadValueOfType(std::uint8_t type, ByteStreamReader& stream,
                                         int depth) const;
  std::size_t ReadSize(ByteStreamReader& stream) const;
  void WriteSize(std::size_t size, ByteStreamWriter& stream) const;

 private:
  EncodableValue ReadValueAtDepth(ByteStreamReader& stream, int depth) const;
};

class StandardMethodCodec {
 public:
  explicit StandardMethodCodec(
      const StandardCodecSerializer* serializer = &StandardCodecSerializer::GetInstance())
      : serializer_(serializer) {}
  StandardMethodCodec(const StandardMethodCodec&) = delete;
  StandardMethodCodec& operator=(const StandardMethodCodec&) = delete;

  static const StandardMethodCodec& GetInstance();

  // The method name as a string value, then the arguments. Null when the name
  // is not a string ("Invalid method call; method name is not a string." on
  // standard error) or the message is malformed. Bytes after the arguments
  // are ignored.
  std::unique_ptr<MethodCall> DecodeMethodCall(const std::uint8_t* data, std::size_t size) const;
  std::vector<std::uint8_t> EncodeMethodCall(const MethodCall& call) const;

  // Byte 0, then the value (null when there is none).
  std::vector<std::uint8_t> EncodeSuccessEnvelope(const EncodableValue* result) const;
  // Byte 1, the code, the message (null when empty), the details (null when none).
  std::vector<std::uint8_t> EncodeErrorEnvelope(const std::string& code, const std::string& message,
                                                const EncodableValue* details) const;

  // Delivers an answer to `result`: empty bytes are not implemented, an
  // envelope is success or error. False when the bytes are no envelope; the
  // result is then left unanswered.
  bool DecodeAndProcessResponseEnvelope(const std::uint8_t* data, std::size_t size,
                                        MethodResult* result) const;

 private:
  const StandardCodecSerializer* serializer_;
};

}  // namespace runner
