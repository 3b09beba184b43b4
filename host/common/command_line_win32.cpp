// The command line split by the shell and turned into UTF-8, and UTF-8
// text widened for the platform's calls.
#include <windows.h>
// After windows.h:
#include <shellapi.h>

#include <limits>

#include "arguments.h"
#include "command_line.h"

namespace runner {

std::string Utf8FromUtf16(const wchar_t* text) {
  if (!text || !*text) return {};
  const int length =
      WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text, -1, nullptr, 0, nullptr, nullptr);
  if (length <= 1) return {};
  std::string utf8(static_cast<std::size_t>(length - 1), '\0');
  const int written = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text, -1, utf8.data(),
                                          length, nullptr, nullptr);
  if (written != length) return {};
  return utf8;
}

std::optional<std::wstring> PlatformText(const std::string& text) {
  if (!IsPlatformText(text)) return std::nullopt;
  if (text.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) return std::nullopt;
  if (text.empty()) return std::wstring();
  const int size = static_cast<int>(text.size());
  const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
  if (length <= 0) return std::wstring();
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), length);
  return wide;
}

std::vector<std::string> GetCommandLineArguments() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (!argv) return {};
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) arguments.push_back(Utf8FromUtf16(argv[i]));
  LocalFree(argv);
  return arguments;
}

}  // namespace runner
