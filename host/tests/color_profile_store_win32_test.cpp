// The colour profile value as the registry holds it, read back with the
// registry's own wide functions.
#include <gtest/gtest.h>
#include <windows.h>

#include "color_profiles.h"

namespace runner {
namespace {

std::wstring RawValue() {
  wchar_t buffer[512] = {};
  DWORD size = sizeof(buffer) - sizeof(wchar_t);
  if (RegGetValueW(HKEY_CURRENT_USER, L"Software\\Korvela\\Printing", L"ColorProfile",
                   RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS) {
    return L"(unreadable)";
  }
  return buffer;
}

TEST(ColorProfileStoreTest, HebrewIsStoredAsHebrewAndReadBackWhole) {
  const std::string saved = ReadSelectedColorProfile();
  // custom:D:\צבעים\מסך.icc
  const std::string id =
      "custom:D:\\\xD7\xA6\xD7\x91\xD7\xA2\xD7\x99\xD7\x9D\\\xD7\x9E\xD7\xA1\xD7\x9A.icc";
  ASSERT_TRUE(SaveSelectedColorProfile(id));
  EXPECT_EQ(RawValue(), L"custom:D:\\\u05E6\u05D1\u05E2\u05D9\u05DD\\\u05DE\u05E1\u05DA.icc");
  EXPECT_EQ(ReadSelectedColorProfile(), id);
  // Plain ids and the empty id are unchanged by the conversion.
  ASSERT_TRUE(SaveSelectedColorProfile("adobe_rgb"));
  EXPECT_EQ(RawValue(), L"adobe_rgb");
  EXPECT_EQ(ReadSelectedColorProfile(), "adobe_rgb");
  ASSERT_TRUE(SaveSelectedColorProfile(""));
  EXPECT_EQ(ReadSelectedColorProfile(), "");
  SaveSelectedColorProfile(saved);
}

}  // namespace
}  // namespace runner
