// The standard codec's reading and writing of values, calls and envelopes,
// within the message's bytes.
#include "standard_codec.h"

#include <cstdio>
#include <string>

namespace runner {
namespace {

// Type bytes on the wire.
enum class WireType : std::uint8_t {
  kNull = 0,
  kTrue = 1,
  kFalse = 2,
  kInt32 = 3,
  kInt64 = 4,
  kLargeInt = 5,  // read as a string, never written
  kDouble = 6,
  kString = 7,
  kByteList = 8,
  kInt32List = 9,
  kInt64List = 10,
  kDoubleList = 11,
  kList = 12,
  kMap = 13,
  kFloatList = 14,
};

void WriteLine(const std::string& line) {
  std::fputs(line.c_str(), stderr);
  std::fputc('\n', stderr);
  std::fflush(stderr);
}

template <typename T>
void WriteTypedList(const std::vector<T>& list, const StandardCodecSerializer&,
                    ByteStreamWriter& stream) {
  // Aligned even when empty: every reader aligns before it looks at the count.
  stream.WriteAlignment(sizeof(T));
  stream.WriteBytes(reinterpret_cast<const std::uint8_t*>(list.data()), list.size() * sizeof(T));
}

// A typed list of `count` elements; malformed when the message cannot hold it.
template <typename T>
std::vector<T> ReadTypedList(std::size_t count, ByteStreamReader& stream) {
  stream.ReadAlignment(sizeof(T));
  if (count > stream.remaining() / sizeof(T)) {
    stream.MarkMalformed();
    return {};
  }
  std::vector<T> list(count);
  if (count > 0) stream.ReadBytes(reinterpret_cast<std::uint8_t*>(list.data()), count * sizeof(T));
  return list;
}

}  // namespace

const StandardCodecSerializer& StandardCodecSerializer::GetInstance() {
  static const StandardCodecSerializer instance;
  return instance;
}

EncodableValue StandardCodecSerializer::ReadValue(ByteStreamReader& stream) const {
  return ReadValueAtDepth(stream, 0);
}

EncodableValue StandardCodecSerializer::ReadValueAtDepth(ByteStreamReader& stream,
                                                         int depth) const {
  const std::uint8_t type = stream.ReadByte();
  return ReadValueOfType(type, stream, depth);
}

std::size_t StandardCodecSerializer::ReadSize(ByteStreamReader& stream) const {
  const std::uint8_t first = stream.ReadByte();
  if (first < 254) return first;
  if (first == 254) return stream.ReadNumber<std::uint16_t>();
  return stream.ReadNumber<std::uint32_t>();
}

void StandardCodecSerializer::WriteSize(std::size_t size, ByteStreamWriter& stream) const {
  if (size < 254) {
    stream.WriteByte(static_cast<std::uint8_t>(size));
  } else if (size <= 0xFFFF) {
    stream.WriteByte(254);
    stream.WriteNumber(static_cast<std::uint16_t>(size));
  } else {
    stream.WriteByte(255);
    stream.WriteNumber(static_cast<std::uint32_t>(size));
  }
}

EncodableValue StandardCodecSerializer::ReadValueOfType(std::uint8_t type, ByteStreamReader& stream,
                                                        int depth) const {
  if (stream.malformed()) return EncodableValue();
  switch (static_cast<WireType>(type)) {
    case WireType::kNull:
      return EncodableValue();
    case WireType::kTrue:
      return EncodableValue(true);
    case WireType::kFalse:
      return EncodableValue(false);
    case WireType::kInt32:
      return EncodableValue(stream.ReadNumber<std::int32_t>());
    case WireType::kInt64:
      return EncodableValue(stream.ReadNumber<std::int64_t>());
    case WireType::kDouble:
      stream.ReadAlignment(8);
      return EncodableValue(stream.ReadNumber<double>());
    case WireType::kLargeInt:
    case WireType::kString: {
      const std::size_t size = ReadSize(stream);
      if (size > stream.remaining()) {
        stream.MarkMalformed();
        return EncodableValue();
      }
      std::string text(size, '\0');
      stream.ReadBytes(reinterpret_cast<std::uint8_t*>(text.data()), size);
      return EncodableValue(std::move(text));
    }
    case WireType::kByteList: {
      const std::size_t size = ReadSize(stream);
      if (size > stream.remaining()) {
        stream.MarkMalformed();
        return EncodableValue();
      }
      std::vector<std::uint8_t> bytes(size);
      stream.ReadBytes(bytes.data(), size);
      return EncodableValue(std::move(bytes));
    }
    case WireType::kInt32List:
      return EncodableValue(ReadTypedList<std::int32_t>(ReadSize(stream), stream));
    case WireType::kInt64List:
      return EncodableValue(ReadTypedList<std::int64_t>(ReadSize(stream), stream));
    case WireType::kDoubleList:
      return EncodableValue(ReadTypedList<double>(ReadSize(stream), stream));
    case WireType::kFloatList:
      return EncodableValue(ReadTypedList<float>(ReadSize(stream), stream));
    case WireType::kList: {
      const std::size_t count = ReadSize(stream);
      // Every element takes at least its type byte.
      if (count > stream.remaining() || depth >= kMaxNestingDepth) {
        stream.MarkMalformed();
        return EncodableValue();
      }
      // No room is set aside for the count: it is only a claim, and nested
      // lists would each claim the rest of the message. The list grows with
      // the elements actually read.
      EncodableList list;
      for (std::size_t i = 0; i < count && !stream.malformed(); ++i) {
        // Checked again before every element: nested lists could otherwise
        // each claim the whole rest of the message and multiply it.
        if (stream.remaining() < count - i) {
          stream.MarkMalformed();
          break;
        }
        list.push_back(ReadValueAtDepth(stream, depth + 1));
      }
      return EncodableValue(std::move(list));
    }
    case WireType::kMap: {
      const std::size_t count = ReadSize(stream);
      if (count > stream.remaining() / 2 || depth >= kMaxNestingDepth) {
        stream.MarkMalformed();
        return EncodableValue();
      }
      EncodableMap map;
      for (std::size_t i = 0; i < count && !stream.malformed(); ++i) {
        if (stream.remaining() / 2 < count - i) {
          stream.MarkMalformed();
          break;
        }
        EncodableValue key = ReadValueAtDepth(stream, depth + 1);
        EncodableValue value = ReadValueAtDepth(stream, depth + 1);
        map.emplace(std::move(key), std::move(value));  // a repeated key keeps the first entry
      }
      return EncodableValue(std::move(map));
    }
  }
  WriteLine("Unknown type in StandardCodecSerializer::ReadValueOfType: " +
            std::to_string(static_cast<int>(type)));
  return EncodableValue();
}

void StandardCodecSerializer::WriteValue(const EncodableValue& value,
                                         ByteStreamWriter& stream) const {
  auto type = [&stream](WireType t) { stream.WriteByte(static_cast<std::uint8_t>(t)); };
  std::visit(
      [&](const auto& content) {
        using T = std::decay_t<decltype(content)>;
        if constexpr (std::is_same_v<T, std::monostate>) {
          type(WireType::kNull);
        } else if constexpr (std::is_same_v<T, bool>) {
          type(content ? WireType::kTrue : WireType::kFalse);
        } else if constexpr (std::is_same_v<T, std::int32_t>) {
          type(WireType::kInt32);
          stream.WriteNumber(content);
        } else if constexpr (std::is_same_v<T, std::int64_t>) {
          type(WireType::kInt64);
          stream.WriteNumber(content);
        } else if constexpr (std::is_same_v<T, double>) {
          type(WireType::kDouble);
          stream.WriteAlignment(8);
          stream.WriteNumber(content);
        } else if constexpr (std::is_same_v<T, std::string>) {
          type(WireType::kString);
          WriteSize(content.size(), stream);
          stream.WriteBytes(reinterpret_cast<const std::uint8_t*>(content.data()), content.size());
        } else if constexpr (std::is_same_v<T, std::vector<std::uint8_t>>) {
          type(WireType::kByteList);
          WriteSize(content.size(), stream);
          stream.WriteBytes(content.data(), content.size());
        } else if constexpr (std::is_same_v<T, std::vector<std::int32_t>>) {
          type(WireType::kInt32List);
          WriteSize(content.size(), stream);
          WriteTypedList(content, *this, stream);
        } else if constexpr (std::is_same_v<T, std::vector<std::int64_t>>) {
          type(WireType::kInt64List);
          WriteSize(content.size(), stream);
          WriteTypedList(content, *this, stream);
        } else if constexpr (std::is_same_v<T, std::vector<double>>) {
          type(WireType::kDoubleList);
          WriteSize(content.size(), stream);
          WriteTypedList(content, *this, stream);
        } else if constexpr (std::is_same_v<T, std::vector<float>>) {
          type(WireType::kFloatList);
          WriteSize(content.size(), stream);
          WriteTypedList(content, *this, stream);
        } else if constexpr (std::is_same_v<T, EncodableList>) {
          type(WireType::kList);
          WriteSize(content.size(), stream);
          for (const EncodableValue& element : content) WriteValue(element, stream);
        } else if constexpr (std::is_same_v<T, EncodableMap>) {
          type(WireType::kMap);
          WriteSize(content.size(), stream);
          for (const auto& [key, entry] : content) {
            WriteValue(key, stream);
            WriteValue(entry, stream);
          }
        } else {
          static_assert(std::is_same_v<T, CustomEncodableValue>);
          type(WireType::kNull);
          WriteLine(
              "Unhandled custom type in StandardCodecSerializer::WriteValue. Custom types require "
              "codec extensions.");
        }
      },
      value.variant());
}

const StandardMethodCodec& StandardMethodCodec::GetInstance() {
  static const StandardMethodCodec instance;
  return instance;
}

std::unique_ptr<MethodCall> StandardMethodCodec::DecodeMethodCall(const std::uint8_t* data,
                                                                  std::size_t size) const {
  ByteStreamReader stream(data, size);
  EncodableValue name = serializer_->ReadValue(stream);
  auto* methodName = name.GetIf<std::string>();
  if (!methodName) {
    WriteLine("Invalid method call; method name is not a string.");
    return nullptr;
  }
  auto arguments = std::make_unique<EncodableValue>(serializer_->ReadValue(stream));
  if (stream.malformed()) return nullptr;
  return std::make_unique<MethodCall>(std::move(*methodName), std::move(arguments));
}

std::vector<std::uint8_t> StandardMethodCodec::EncodeMethodCall(const MethodCall& call) const {
  std::vector<std::uint8_t> bytes;
  ByteStreamWriter stream(&bytes);
  serializer_->WriteValue(EncodableValue(call.method_name()), stream);
  serializer_->WriteValue(*call.arguments(), stream);
  return bytes;
}

std::vector<std::uint8_t> StandardMethodCodec::EncodeSuccessEnvelope(
    const EncodableValue* result) const {
  std::vector<std::uint8_t> bytes;
  ByteStreamWriter stream(&bytes);
  stream.WriteByte(0);
  serializer_->WriteValue(result ? *result : EncodableValue(), stream);
  return bytes;
}

std::vector<std::uint8_t> StandardMethodCodec::EncodeErrorEnvelope(
    const std::string& code, const std::string& message, const EncodableValue* details) const {
  std::vector<std::uint8_t> bytes;
  ByteStreamWriter stream(&bytes);
  stream.WriteByte(1);
  serializer_->WriteValue(EncodableValue(code), stream);
  serializer_->WriteValue(message.empty() ? EncodableValue() : EncodableValue(message), stream);
  serializer_->WriteValue(details ? *details : EncodableValue(), stream);
  return bytes;
}

bool StandardMethodCodec::DecodeAndProcessResponseEnvelope(const std::uint8_t* data,
                                                           std::size_t size,
                                                           MethodResult* result) const {
  if (size == 0) {
    result->NotImplemented();
    return true;
  }
  ByteStreamReader stream(data, size);
  const std::uint8_t flag = stream.ReadByte();
  if (flag == 0) {
    const EncodableValue value = serializer_->ReadValue(stream);
    if (stream.malformed()) return false;
    result->Success(value);
    return true;
  }
  if (flag != 1) return false;
  const EncodableValue code = serializer_->ReadValue(stream);
  const EncodableValue message = serializer_->ReadValue(stream);
  const EncodableValue details = serializer_->ReadValue(stream);
  const auto* codeText = code.GetIf<std::string>();
  const auto* messageText = message.GetIf<std::string>();
  if (stream.malformed() || !codeText || (!messageText && !message.IsNull())) return false;
  const std::string messageOrEmpty = messageText ? *messageText : std::string();
  if (details.IsNull()) {
    result->Error(*codeText, messageOrEmpty);
  } else {
    result->Error(*codeText, messageOrEmpty, details);
  }
  return true;
}

}  // namespace runner
