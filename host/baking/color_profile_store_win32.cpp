// The selection lives in the current user's registry: a REG_SZ of the id's
// bytes and one zero byte, through the single-byte functions, unconverted.
#include <windows.h>

#include <cstring>
#include <memory>
#include <type_traits>

#include "color_profiles.h"
#include "logging.h"

namespace runner {
namespace {

constexpr const char kKey[] = "Software\\Korvela\\Printing";
constexpr const char kValue[] = "ColorProfile";

struct KeyCloser {
  void operator()(HKEY key) const { RegCloseKey(key); }
};
using UniqueKey = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser>;

}  // namespace

std::string ReadSelectedColorProfile() {
  HKEY opened = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &opened) != ERROR_SUCCESS) {
    return "srgb";
  }
  UniqueKey key(opened);
  char buffer[256] = {};
  DWORD size = sizeof(buffer);
  const LSTATUS read =
      RegQueryValueExA(key.get(), kValue, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size);
  if (read != ERROR_SUCCESS || size == 0) return "srgb";
  // Up to the first zero byte; a value that filled the buffer without one
  // cannot have come from this program.
  return std::string(buffer, strnlen(buffer, sizeof(buffer)));
}

bool SaveSelectedColorProfile(const std::string& id) {
  HKEY created = nullptr;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                      nullptr, &created, nullptr) != ERROR_SUCCESS) {
    LogError("ERROR: Failed to create registry key for color profile");
    return false;
  }
  UniqueKey key(created);
  const LSTATUS written =
      RegSetValueExA(key.get(), kValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(id.c_str()),
                     static_cast<DWORD>(id.size() + 1));
  if (written != ERROR_SUCCESS) {
    LogError("ERROR: Failed to save color profile to registry");
    return false;
  }
  LogOutput("INFO: Color profile set to: " + id);
  return true;
}

}  // namespace runner
