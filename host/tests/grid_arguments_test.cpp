#include "grid_arguments.h"

#include <gtest/gtest.h>

namespace runner::printing {
namespace {

EncodableValue S(const char* text) { return EncodableValue(text); }

EncodableMap ValidArguments() {
  return EncodableMap{
      {S("imagePaths"), EncodableValue(EncodableList{S("C:\\a.jpg"), S("C:\\\xD7\xA7.jpg")})},
      {S("outputPaths"), EncodableValue(EncodableList{S("C:\\page 1.jpg")})},
      {S("rows"), EncodableValue(2)},
      {S("columns"), EncodableValue(3)},
      {S("pageWidth"), EncodableValue(1854)},
      {S("pageHeight"), EncodableValue(2445)},
      {S("marginLeft"), EncodableValue(18)},
      {S("marginRight"), EncodableValue(18)},
      {S("marginTop"), EncodableValue(16)},
      {S("marginBottom"), EncodableValue(16)},
  };
}

std::optional<GridArgumentError> Parse(const EncodableMap& map, GridMethod method,
                                       GridRequest& request) {
  const EncodableValue value(map);
  return ParseGridRequest(&value, method, request);
}

TEST(GridArgumentsTest, RequiredValuesAndDefaults) {
  GridRequest request;
  ASSERT_FALSE(Parse(ValidArguments(), GridMethod::kWaiting, request));
  EXPECT_EQ(request.imagePaths, (std::vector<std::string>{"C:\\a.jpg", "C:\\\xD7\xA7.jpg"}));
  EXPECT_EQ(request.outputPaths.size(), 1u);
  EXPECT_TRUE(request.framePaths.empty());
  EXPECT_EQ(request.columns, 3);
  EXPECT_EQ(request.marginBottom, 16);
  EXPECT_EQ(request.jpegQuality, 95);
  EXPECT_FALSE(request.showCutGrid);
  EXPECT_DOUBLE_EQ(request.cutGridWidthMm, 0.1);
  EXPECT_EQ(request.cutGridColor, "darkGray");
  EXPECT_TRUE(request.imageEffects.empty());
  EXPECT_DOUBLE_EQ(request.magnetAspectRatio, 0.0);
}

TEST(GridArgumentsTest, ErrorsNameTheProblem) {
  GridRequest request;
  const EncodableValue notAMap(EncodableList{});
  EXPECT_EQ(ParseGridRequest(&notAMap, GridMethod::kWaiting, request)->message,
            "Expected map of arguments");
  EncodableMap noOutputs = ValidArguments();
  noOutputs.erase(S("outputPaths"));
  EXPECT_EQ(Parse(noOutputs, GridMethod::kWaiting, request)->message,
            "Missing required parameters");

  struct Case {
    const char* key;
    EncodableValue value;
    const char* message;
  };
  const Case cases[] = {
      {"rows", EncodableValue(std::int64_t{2}), "Missing or invalid integer parameter: rows"},
      {"marginTop", EncodableValue(16.0), "Missing or invalid integer parameter: marginTop"},
      {"imagePaths", S("C:\\a.jpg"), "imagePaths must be a list of strings"},
      {"outputPaths", EncodableValue(EncodableList{S("a"), EncodableValue(1)}),
       "outputPaths must be a list of strings"},
      {"framePaths", EncodableValue(EncodableList{EncodableValue()}),
       "framePaths must be a list of strings"},
  };
  for (const Case& test : cases) {
    EncodableMap map = ValidArguments();
    map[S(test.key)] = test.value;
    GridRequest fresh;
    const auto error = Parse(map, GridMethod::kWaiting, fresh);
    ASSERT_TRUE(error) << test.key;
    EXPECT_EQ(error->message, test.message);
  }
  EncodableMap missingColumns = ValidArguments();
  missingColumns.erase(S("columns"));
  EXPECT_EQ(Parse(missingColumns, GridMethod::kAsync, request)->message,
            "Missing or invalid integer parameter: columns");

  EncodableMap effectsNotAList = ValidArguments();
  effectsNotAList[S("imageEffects")] = S("none");
  GridRequest waiting;
  EXPECT_FALSE(Parse(effectsNotAList, GridMethod::kWaiting, waiting));  // treated as absent
  EXPECT_TRUE(waiting.imageEffects.empty());
  GridRequest async;
  EXPECT_EQ(Parse(effectsNotAList, GridMethod::kAsync, async)->message,
            "imageEffects must be a list");
}

TEST(GridArgumentsTest, WaitingAndAsyncReadKindsDifferently) {
  EncodableMap map = ValidArguments();
  map[S("showCutGrid")] = EncodableValue(1);
  map[S("magnetAspectRatio")] = EncodableValue(1.5);
  map[S("jpegQuality")] = EncodableValue(150);
  map[S("imageEffects")] = EncodableValue(EncodableList{
      EncodableValue(
          EncodableMap{{S("scale"), EncodableValue(2)}, {S("brightness"), EncodableValue(0.7)}}),
      S("not a map"),
  });
  GridRequest waiting;
  ASSERT_FALSE(Parse(map, GridMethod::kWaiting, waiting));
  EXPECT_TRUE(waiting.showCutGrid);
  EXPECT_DOUBLE_EQ(waiting.magnetAspectRatio, 0.0);
  EXPECT_EQ(waiting.jpegQuality, 150);  // passed on as given
  ASSERT_EQ(waiting.imageEffects.size(), 2u);
  EXPECT_FLOAT_EQ(waiting.imageEffects[0].scale, 1.0f);
  EXPECT_FLOAT_EQ(waiting.imageEffects[0].brightness, 0.7f);
  EXPECT_EQ(waiting.imageEffects[1], GridImageEffects{});

  GridRequest async;
  ASSERT_FALSE(Parse(map, GridMethod::kAsync, async));
  EXPECT_FALSE(async.showCutGrid);
  EXPECT_DOUBLE_EQ(async.magnetAspectRatio, 1.5);
  EXPECT_FLOAT_EQ(async.imageEffects[0].scale, 2.0f);
}

TEST(GridArgumentsTest, StrokeColourAndSide) {
  auto parse = [](EncodableMap entry) {
    return ParseGridImageEffects(EncodableValue(std::move(entry)), GridMethod::kAsync);
  };
  EXPECT_EQ(parse({{S("strokeColor"), EncodableValue(4278190335.0)}}).strokeColor, 0xFF0000FFu);
  EXPECT_EQ(parse({{S("strokeColor"), EncodableValue(-1.0)}}).strokeColor, 0xFFFFFFFFu);
  EXPECT_EQ(parse({{S("strokeColor"), EncodableValue(8589934593.9)}}).strokeColor, 1u);
  EXPECT_EQ(parse({{S("strokeColor"), EncodableValue(1e300)}}).strokeColor, 0xFFFFFFFFu);
  EXPECT_EQ(parse({{S("strokeColor"), EncodableValue(255)}}).strokeColor,
            0xFFFFFFFFu);  // int32: ignored
  EXPECT_TRUE(parse({{S("strokeExternal"), EncodableValue(0.5)}}).strokeExternal);
  EXPECT_FALSE(parse({{S("strokeExternal"), EncodableValue(0.49)}}).strokeExternal);
  EXPECT_TRUE(
      parse({{S("strokeExternal"), EncodableValue(false)}}).strokeExternal);  // bool: ignored
}

}  // namespace
}  // namespace runner::printing
