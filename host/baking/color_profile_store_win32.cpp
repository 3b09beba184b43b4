// The selection lives in the current user's registry as a REG_SZ, written
// and read through the wide functions: the id's UTF-8 is converted to UTF-16
// and back, so a custom path in any script survives whatever the system's
// ANSI code page is. Plain ASCII ids read the same as when they were stored
// through the single-byte functions.
#include <windows.h>

#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "color_profiles.h"
#include "command_line.h"
#include "logging.h"

namespace runner {
namespace {

constexpr const wchar_t kKey[] = L"Software\\Korvela\\Printing";
constexpr const wchar_t kValue[] = L"ColorProfile";
// Far more than any id or profile path; a larger value is not ours.
constexpr DWORD kMaxValueBytes = 64 * 1024;

struct KeyCloser {
  void operator()(HKEY key) const { RegCloseKey(key); }
};
using UniqueKey = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser>;

}  // namespace

std::string ReadSelectedColorProfile() {
  HKEY opened = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &opened) != ERROR_SUCCESS) {
    return "srgb";
  }
  UniqueKey key(opened);
  DWORD size = 0;
  if (RegQueryValueExW(key.get(), kValue, nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS ||
      size == 0 || size > kMaxValueBytes) {
    return "srgb";
  }
  // Zero-filled and one character longer, so the text always ends.
  std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 2, L'\0');
  DWORD read = size;
  if (RegQueryValueExW(key.get(), kValue, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer.data()),
                       &read) != ERROR_SUCCESS ||
      read == 0) {
    return "srgb";
  }
  return Utf8FromUtf16(buffer.data());  // up to the first zero character
}

bool SaveSelectedColorProfile(const std::string& id) {
  HKEY created = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                      nullptr, &created, nullptr) != ERROR_SUCCESS) {
    LogError("ERROR: Failed to create registry key for color profile");
    return false;
  }
  UniqueKey key(created);
  const std::optional<std::wstring> text = PlatformText(id);
  if (!text) {
    LogError("ERROR: Failed to save color profile to registry");
    return false;
  }
  const std::wstring& wide = *text;
  const LSTATUS written =
      RegSetValueExW(key.get(), kValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(wide.c_str()),
                     static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t)));
  if (written != ERROR_SUCCESS) {
    LogError("ERROR: Failed to save color profile to registry");
    return false;
  }
  LogOutput("INFO: Color profile set to: " + id);
  return true;
}

}  // namespace runner
