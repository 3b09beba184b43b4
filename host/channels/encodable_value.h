// The values that channel messages carry: a tagged union of exactly fourteen
// kinds. The kind's index is its position in EncodableValueVariant; values
// order by kind first, then by content (strings byte by byte, unsigned).
// A value owns its content and copies deeply; a default value is null.
#pragma once

#include <any>
#include <cstdint>
#include <map>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

namespace runner {

class EncodableValue;
using EncodableList = std::vector<EncodableValue>;
using EncodableMap = std::map<EncodableValue, EncodableValue>;

// A value only a codec extension knows. The host never makes one; the
// standard codec cannot write it.
class CustomEncodableValue {
 public:
  explicit CustomEncodableValue(std::any value) : value_(std::move(value)) {}
  const std::any& value() const { return value_; }

  // Custom values have no content order of their own; they order by address.
  bool operator<(const CustomEncodableValue& other) const { return this < &other; }
  bool operator==(const CustomEncodableValue& other) const { return this == &other; }

 private:
  std::any value_;
};

// Kind numbers, in variant order.
enum class ValueKind : std::size_t {
  kNull = 0,
  kBool,
  kInt32,
  kInt64,
  kDouble,
  kString,
  kByteList,
  kInt32List,
  kInt64List,
  kDoubleList,
  kList,
  kMap,
  kCustom,
  kFloatList,
};

using EncodableValueVariant =
    std::variant<std::monostate, bool, std::int32_t, std::int64_t, double, std::string,
                 std::vector<std::uint8_t>, std::vector<std::int32_t>, std::vector<std::int64_t>,
                 std::vector<double>, EncodableList, EncodableMap, CustomEncodableValue,
                 std::vector<float>>;

// The variant is held, not inherited: with std::variant as a base class,
// C++20's operator<=> of the variant would be looked up for every comparison
// of a value, and its constraints recurse through the list and map kinds.
class EncodableValue {
 public:
  EncodableValue() = default;
  template <typename T,
            typename = std::enable_if_t<!std::is_same_v<std::decay_t<T>, EncodableValue> &&
                                        !std::is_same_v<std::decay_t<T>, const char*> &&
                                        std::is_constructible_v<EncodableValueVariant, T&&>>>
  EncodableValue(T&& content) : value_(std::forward<T>(content)) {}
  // A string literal is a string, never a bool.
  EncodableValue(const char* text) : value_(std::string(text)) {}

  ValueKind kind() const { return static_cast<ValueKind>(value_.index()); }
  std::size_t index() const { return value_.index(); }
  bool IsNull() const { return std::holds_alternative<std::monostate>(value_); }

  template <typename T>
  bool Is() const {
    return std::holds_alternative<T>(value_);
  }
  // The content when the value has exactly the kind T, else null.
  template <typename T>
  const T* GetIf() const {
    return std::get_if<T>(&value_);
  }
  template <typename T>
  T* GetIf() {
    return std::get_if<T>(&value_);
  }
  // The content of a value known to have the kind T.
  template <typename T>
  const T& Get() const {
    return std::get<T>(value_);
  }
  template <typename T>
  T& Get() {
    return std::get<T>(value_);
  }

  const EncodableValueVariant& variant() const { return value_; }

  // Kind first, then content. Reals order totally (NaN after every number)
  // so that any value can be a map key.
  friend bool operator<(const EncodableValue& a, const EncodableValue& b);
  friend bool operator>(const EncodableValue& a, const EncodableValue& b) { return b < a; }
  friend bool operator==(const EncodableValue& a, const EncodableValue& b) {
    return !(a < b) && !(b < a);
  }
  friend bool operator!=(const EncodableValue& a, const EncodableValue& b) { return !(a == b); }

 private:
  EncodableValueVariant value_;
};

}  // namespace runner
