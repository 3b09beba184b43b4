// Typed reading of call arguments. Every handler reads through these, so the
// exact-kind rule lives here: a value of another kind counts as missing. The
// few conversions a handler may allow (an int32 where a real is wanted, an
// int32 flag) are separate functions that say so in their names.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "encodable_value.h"

namespace runner {

// The arguments as a map, or null when they are something else.
inline const EncodableMap* ArgumentsMap(const EncodableValue* arguments) {
  return arguments ? arguments->GetIf<EncodableMap>() : nullptr;
}

// The value under a string key, or null.
const EncodableValue* FindValue(const EncodableMap& map, std::string_view key);

// The value under `key` when it has exactly the kind T, else null.
template <typename T>
const T* Read(const EncodableMap& map, std::string_view key) {
  const EncodableValue* value = FindValue(map, key);
  return value ? value->GetIf<T>() : nullptr;
}

std::optional<std::int32_t> ReadInt32(const EncodableMap& map, std::string_view key);
std::optional<double> ReadDouble(const EncodableMap& map, std::string_view key);
std::optional<bool> ReadBool(const EncodableMap& map, std::string_view key);
const std::string* ReadString(const EncodableMap& map, std::string_view key);
const EncodableList* ReadList(const EncodableMap& map, std::string_view key);
const EncodableMap* ReadMap(const EncodableMap& map, std::string_view key);

// A real given as a double, or as an int32 converted to double.
std::optional<double> ReadDoubleOrInt32(const EncodableMap& map, std::string_view key);
// A flag given as a bool, or as an int32 (non-zero is true).
std::optional<bool> ReadBoolOrInt32(const EncodableMap& map, std::string_view key);

// A 32-bit ARGB colour sent as a double: truncated toward zero to a 64-bit
// integer whose low 32 bits are the colour. Values outside the 64-bit range
// (and NaN) count as missing, since their truncation is undefined.
std::optional<std::uint32_t> ReadArgbFromDouble(const EncodableMap& map, std::string_view key);

// A flag sent as a double: true from 0.5 on.
std::optional<bool> ReadFlagFromDouble(const EncodableMap& map, std::string_view key);

// The string elements of a list, in order; elements of other kinds are skipped.
std::vector<std::string> StringElements(const EncodableList& list);

// Whether text can reach a platform call whole. The platform's strings end at
// the first NUL, so a text holding one would name something else there than
// what the host checked ("x.exe" NUL ".jpg" passes for a photo and runs a
// program). Such text counts as a missing or wrong argument.
bool IsPlatformText(std::string_view text);

// The string under `key` when it is platform text, else null (missing,
// another kind, or holding a NUL).
const std::string* ReadPlatformText(const EncodableMap& map, std::string_view key);

}  // namespace runner
