// Typed argument readers over an EncodableMap.
#include "arguments.h"

#include <cmath>

namespace runner {

const EncodableValue* FindValue(const EncodableMap& map, std::string_view key) {
  const auto found = map.find(EncodableValue(std::string(key)));
  return found == map.end() ? nullptr : &found->second;
}

std::optional<std::int32_t> ReadInt32(const EncodableMap& map, std::string_view key) {
  if (const auto* value = Read<std::int32_t>(map, key)) return *value;
  return std::nullopt;
}

std::optional<double> ReadDouble(const EncodableMap& map, std::string_view key) {
  if (const auto* value = Read<double>(map, key)) return *value;
  return std::nullopt;
}

std::optional<bool> ReadBool(const EncodableMap& map, std::string_view key) {
  if (const auto* value = Read<bool>(map, key)) return *value;
  return std::nullopt;
}

const std::string* ReadString(const EncodableMap& map, std::string_view key) {
  return Read<std::string>(map, key);
}

const EncodableList* ReadList(const EncodableMap& map, std::string_view key) {
  return Read<EncodableList>(map, key);
}

const EncodableMap* ReadMap(const EncodableMap& map, std::string_view key) {
  return Read<EncodableMap>(map, key);
}

std::optional<double> ReadDoubleOrInt32(const EncodableMap& map, std::string_view key) {
  if (const auto* value = Read<double>(map, key)) return *value;
  if (const auto* value = Read<std::int32_t>(map, key)) return static_cast<double>(*value);
  return std::nullopt;
}

std::optional<bool> ReadBoolOrInt32(const EncodableMap& map, std::string_view key) {
  if (const auto* value = Read<bool>(map, key)) return *value;
  if (const auto* value = Read<std::int32_t>(map, key)) return *value != 0;
  return std::nullopt;
}

std::optional<std::uint32_t> ReadArgbFromDouble(const EncodableMap& map, std::string_view key) {
  const auto value = ReadDouble(map, key);
  if (!value || !std::isfinite(*value) || std::fabs(*value) >= 9.2e18) return std::nullopt;
  return static_cast<std::uint32_t>(static_cast<std::uint64_t>(static_cast<std::int64_t>(*value)));
}

std::optional<bool> ReadFlagFromDouble(const EncodableMap& map, std::string_view key) {
  if (const auto value = ReadDouble(map, key)) return *value >= 0.5;
  return std::nullopt;
}

std::vector<std::string> StringElements(const EncodableList& list) {
  std::vector<std::string> strings;
  for (const EncodableValue& element : list) {
    if (const auto* text = element.GetIf<std::string>()) strings.push_back(*text);
  }
  return strings;
}

bool IsPlatformText(std::string_view text) { return text.find('\0') == std::string_view::npos; }

const std::string* ReadPlatformText(const EncodableMap& map, std::string_view key) {
  const std::string* text = ReadString(map, key);
  return text && IsPlatformText(*text) ? text : nullptr;
}

}  // namespace runner
