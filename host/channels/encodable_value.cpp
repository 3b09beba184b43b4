// Comparison and ordering of EncodableValues, as map keys need them.
#include "encodable_value.h"

#include <algorithm>
#include <cmath>

namespace runner {
namespace {

// -1, 0 or 1. Reals in a total order: numbers as usual, NaN after them all.
template <typename Real>
int CompareReal(Real a, Real b) {
  const bool aNan = std::isnan(a);
  const bool bNan = std::isnan(b);
  if (aNan || bNan) return aNan == bNan ? 0 : (aNan ? 1 : -1);
  return a < b ? -1 : (b < a ? 1 : 0);
}

template <typename T>
int CompareScalar(const T& a, const T& b) {
  if constexpr (std::is_floating_point_v<T>) {
    return CompareReal(a, b);
  } else {
    return a < b ? -1 : (b < a ? 1 : 0);
  }
}

int Compare(const EncodableValue& a, const EncodableValue& b);

template <typename Sequence, typename ElementCompare>
int CompareSequences(const Sequence& a, const Sequence& b, ElementCompare compare) {
  const std::size_t common = std::min(a.size(), b.size());
  auto ia = a.begin();
  auto ib = b.begin();
  for (std::size_t i = 0; i < common; ++i, ++ia, ++ib) {
    if (const int c = compare(*ia, *ib)) return c;
  }
  return a.size() < b.size() ? -1 : (b.size() < a.size() ? 1 : 0);
}

int Compare(const EncodableValue& a, const EncodableValue& b) {
  if (a.index() != b.index()) return a.index() < b.index() ? -1 : 1;
  return std::visit(
      [&b](const auto& left) -> int {
        using T = std::decay_t<decltype(left)>;
        const T& right = b.Get<T>();
        if constexpr (std::is_same_v<T, std::monostate>) {
          return 0;
        } else if constexpr (std::is_same_v<T, std::string>) {
          // char_traits<char> compares bytes as unsigned char.
          const int c = left.compare(right);
          return c < 0 ? -1 : (c > 0 ? 1 : 0);
        } else if constexpr (std::is_same_v<T, EncodableList>) {
          return CompareSequences(left, right, Compare);
        } else if constexpr (std::is_same_v<T, EncodableMap>) {
          return CompareSequences(left, right, [](const auto& x, const auto& y) {
            if (const int c = Compare(x.first, y.first)) return c;
            return Compare(x.second, y.second);
          });
        } else if constexpr (std::is_same_v<T, CustomEncodableValue>) {
          return left < right ? -1 : (right < left ? 1 : 0);
        } else if constexpr (std::is_arithmetic_v<T>) {
          return CompareScalar(left, right);
        } else {
          return CompareSequences(left, right,
                                  [](const auto& x, const auto& y) { return CompareScalar(x, y); });
        }
      },
      a.variant());
}

}  // namespace

bool operator<(const EncodableValue& a, const EncodableValue& b) { return Compare(a, b) < 0; }

}  // namespace runner
