#include <gtest/gtest.h>

#include <cmath>

#include "encodable_value.h"

namespace runner {
namespace {

TEST(EncodableValueTest, FourteenKindsInOrderAndNullByDefault) {
  EXPECT_EQ(std::variant_size_v<EncodableValueVariant>, 14u);
  EXPECT_TRUE(EncodableValue().IsNull());
  EXPECT_EQ(EncodableValue(true).kind(), ValueKind::kBool);
  EXPECT_EQ(EncodableValue(std::int32_t{1}).kind(), ValueKind::kInt32);
  EXPECT_EQ(EncodableValue(std::int64_t{1}).kind(), ValueKind::kInt64);
  EXPECT_EQ(EncodableValue(1.0).kind(), ValueKind::kDouble);
  EXPECT_EQ(EncodableValue("text").kind(), ValueKind::kString);
  EXPECT_EQ(EncodableValue(std::vector<float>{}).kind(), ValueKind::kFloatList);
  EXPECT_EQ(EncodableValue(CustomEncodableValue(1)).kind(), ValueKind::kCustom);
}

TEST(EncodableValueTest, OrdersByKindThenContent) {
  EXPECT_LT(EncodableValue(), EncodableValue(false));
  EXPECT_LT(EncodableValue(true), EncodableValue(std::int32_t{-5}));
  EXPECT_LT(EncodableValue(std::int32_t{99}), EncodableValue(std::int64_t{-99}));
  EXPECT_LT(EncodableValue(std::int64_t{5}), EncodableValue(0.5));
  EXPECT_LT(EncodableValue(1e300), EncodableValue(""));
  // Strings compare as unsigned bytes: a Hebrew letter comes after "z".
  EXPECT_LT(EncodableValue("z"), EncodableValue("\xD7\x90"));
  EXPECT_LT(EncodableValue("height"), EncodableValue("left"));
  EXPECT_LT(EncodableValue("ab"), EncodableValue("abc"));
  EXPECT_LT(EncodableValue(EncodableList{EncodableValue(1)}),
            EncodableValue(EncodableList{EncodableValue(2)}));
  // NaN has one place in the order, so it can be a key.
  EncodableMap map;
  map[EncodableValue(std::nan(""))] = EncodableValue(1);
  map[EncodableValue(std::nan(""))] = EncodableValue(2);
  map[EncodableValue(1.0)] = EncodableValue(3);
  EXPECT_EQ(map.size(), 2u);
  EXPECT_EQ(map.rbegin()->second, EncodableValue(2));
}

TEST(EncodableValueTest, CopiesAreDeep) {
  EncodableValue original(
      EncodableMap{{EncodableValue("list"), EncodableValue(EncodableList{EncodableValue("a")})}});
  EncodableValue copy = original;
  copy.Get<EncodableMap>()[EncodableValue("list")].Get<EncodableList>()[0] = EncodableValue("b");
  EXPECT_EQ(original.Get<EncodableMap>()[EncodableValue("list")].Get<EncodableList>()[0],
            EncodableValue("a"));
  EXPECT_NE(original, copy);
}

}  // namespace
}  // namespace runner
