#include "color_profiles.h"

#include <gtest/gtest.h>

#include "recording_result.h"

namespace runner {
namespace {

std::string Call(void (*handler)(const MethodCall&, std::unique_ptr<MethodResult>),
                 EncodableValue arguments, EncodableValue* value) {
  std::string text;
  handler(MethodCall("m", std::make_unique<EncodableValue>(std::move(arguments))),
          std::make_unique<RecordingResult>(&text, value));
  return text;
}

TEST(ColorProfilesTest, TheFourBuiltInProfilesInOrder) {
  EncodableValue value;
  ASSERT_EQ(Call(&HandleGetColorProfiles, EncodableValue(), &value), "success");
  const auto& list = value.Get<EncodableList>();
  ASSERT_EQ(list.size(), 4u);
  const std::vector<std::string> ids = {"srgb", "adobe_rgb", "no_conversion", "custom"};
  for (std::size_t i = 0; i < 4; ++i) {
    const auto& entry = list[i].Get<EncodableMap>();
    EXPECT_EQ(entry.at(EncodableValue("id")), EncodableValue(ids[i]));
    EXPECT_EQ(entry.at(EncodableValue("isBuiltIn")), EncodableValue(true));
  }
  EXPECT_EQ(
      list[0].Get<EncodableMap>().at(EncodableValue("displayName")),
      EncodableValue("sRGB (\xD7\x9E\xD7\x95\xD7\x9E\xD7\x9C\xD7\xA5 \xD7\x9C\xD7\x9E\xD7\xA8"
                     "\xD7\x91\xD7\x99\xD7\xAA \xD7\x94\xD7\x9E\xD7\x93\xD7\xA4\xD7\xA1\xD7\x95"
                     "\xD7\xAA)"));
}

TEST(ColorProfilesTest, DisplayNames) {
  EXPECT_EQ(ColorProfileDisplayName("adobe_rgb"), "Adobe RGB (1998)");
  EXPECT_EQ(ColorProfileDisplayName("custom:C:\\Profiles\\printer.icc"),
            "\xD7\x9E\xD7\x95\xD7\xAA\xD7\x90\xD7\x9D: printer.icc");
  EXPECT_EQ(ColorProfileDisplayName("custom:/profiles/x.icm"),
            "\xD7\x9E\xD7\x95\xD7\xAA\xD7\x90\xD7\x9D: x.icm");
  const std::string customOnly =
      "\xD7\xA4\xD7\xA8\xD7\x95\xD7\xA4\xD7\x99\xD7\x9C \xD7\x9E\xD7\x95\xD7\xAA\xD7\x90\xD7\x9D";
  EXPECT_EQ(ColorProfileDisplayName("custom:printer.icc"), customOnly);
  EXPECT_EQ(ColorProfileDisplayName("custom:"), customOnly);
  const std::string unknown =
      "sRGB (\xD7\x91\xD7\xA8\xD7\x99\xD7\xA8\xD7\xAA \xD7\x9E\xD7\x97\xD7\x93\xD7\x9C)";
  for (const char* other : {"Srgb", "CUSTOM:C:\\x.icc", "", "custom"}) {
    if (std::string(other) == "custom") continue;  // a listed id
    EXPECT_EQ(ColorProfileDisplayName(other), unknown) << other;
  }
}

TEST(ColorProfilesTest, SetAndGetWithTheirArgumentErrors) {
  EncodableValue value;
  EXPECT_EQ(Call(&HandleSetSelectedColorProfile, EncodableValue("adobe_rgb"), &value),
            "INVALID_ARGUMENTS: Arguments must be a map");
  EXPECT_EQ(
      Call(&HandleSetSelectedColorProfile,
           EncodableValue(EncodableMap{{EncodableValue("profileId"), EncodableValue(5)}}), &value),
      "INVALID_ARGUMENTS: profileId must be a string");
  testing::internal::CaptureStdout();
  EXPECT_EQ(
      Call(&HandleSetSelectedColorProfile,
           EncodableValue(EncodableMap{{EncodableValue("profileId"), EncodableValue("")}}), &value),
      "success");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "INFO: Color profile set to: \n");
  EXPECT_EQ(Call(&HandleGetSelectedColorProfile, EncodableValue(), &value), "success");
  EXPECT_EQ(value, EncodableValue(""));
}

}  // namespace
}  // namespace runner
