#include "arguments.h"

#include <gtest/gtest.h>

namespace runner {
namespace {

const EncodableMap kArgs{
    {EncodableValue("rows"), EncodableValue(std::int32_t{3})},
    {EncodableValue("bigRows"), EncodableValue(std::int64_t{3})},
    {EncodableValue("zoom"), EncodableValue(1.5)},
    {EncodableValue("flag"), EncodableValue(true)},
    {EncodableValue("name"), EncodableValue("printer")},
    {EncodableValue("paths"),
     EncodableValue(EncodableList{EncodableValue("a"), EncodableValue(7), EncodableValue("b")})},
    {EncodableValue(std::int32_t{1}), EncodableValue("not a string key")},
};

TEST(ArgumentsTest, ValuesAreReadOnlyInTheirExactKind) {
  EXPECT_EQ(ReadInt32(kArgs, "rows"), 3);
  EXPECT_EQ(ReadInt32(kArgs, "bigRows"), std::nullopt);  // int64 is never an integer argument
  EXPECT_EQ(ReadInt32(kArgs, "zoom"), std::nullopt);
  EXPECT_EQ(ReadDouble(kArgs, "zoom"), 1.5);
  EXPECT_EQ(ReadDouble(kArgs, "rows"), std::nullopt);
  EXPECT_EQ(ReadBool(kArgs, "flag"), true);
  EXPECT_EQ(ReadBool(kArgs, "rows"), std::nullopt);
  ASSERT_NE(ReadString(kArgs, "name"), nullptr);
  EXPECT_EQ(*ReadString(kArgs, "name"), "printer");
  EXPECT_EQ(ReadString(kArgs, "missing"), nullptr);
  EXPECT_EQ(ReadMap(kArgs, "paths"), nullptr);
  ASSERT_NE(ReadList(kArgs, "paths"), nullptr);
}

TEST(ArgumentsTest, ConversionsOnlyWhereAskedFor) {
  EXPECT_EQ(ReadDoubleOrInt32(kArgs, "rows"), 3.0);
  EXPECT_EQ(ReadDoubleOrInt32(kArgs, "zoom"), 1.5);
  EXPECT_EQ(ReadDoubleOrInt32(kArgs, "bigRows"), std::nullopt);
  EXPECT_EQ(ReadBoolOrInt32(kArgs, "rows"), true);
  EXPECT_EQ(ReadBoolOrInt32(kArgs, "flag"), true);
  EXPECT_EQ(ReadBoolOrInt32(kArgs, "name"), std::nullopt);
}

TEST(ArgumentsTest, StringListsSkipOtherKindsAndArgumentsMustBeAMap) {
  EXPECT_EQ(StringElements(*ReadList(kArgs, "paths")), (std::vector<std::string>{"a", "b"}));
  const EncodableValue notAMap(EncodableList{});
  EXPECT_EQ(ArgumentsMap(&notAMap), nullptr);
  EXPECT_EQ(ArgumentsMap(nullptr), nullptr);
  const EncodableValue map(kArgs);
  EXPECT_EQ(ArgumentsMap(&map), map.GetIf<EncodableMap>());
}

}  // namespace
}  // namespace runner
