#include "file_io.h"

#include <cstdio>
#include <limits>

#ifdef _WIN32
#include <windows.h>
#endif

namespace sheetsmith {
namespace {

bool HoldsNul(const std::string& text) { return text.find('\0') != std::string::npos; }

}  // namespace

#ifdef _WIN32
std::wstring WideFromUtf8(const std::string& utf8) {
  if (utf8.empty()) return {};
  if (utf8.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) return {};
  const int size = static_cast<int>(utf8.size());
  const int count = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
  if (count <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(count), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), count);
  return wide;
}

std::string Utf8FromWide(const std::wstring& wide) {
  if (wide.empty()) return {};
  if (wide.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) return {};
  const int size = static_cast<int>(wide.size());
  const int count =
      WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  if (count <= 0) return {};
  std::string utf8(static_cast<std::size_t>(count), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, utf8.data(), count, nullptr, nullptr);
  return utf8;
}

UniqueFile OpenFile(const std::string& utf8Path, const char* mode) {
  if (HoldsNul(utf8Path)) return nullptr;
  const std::wstring path = WideFromUtf8(utf8Path);
  if (path.empty()) return nullptr;
  const std::wstring wideMode(mode, mode + std::char_traits<char>::length(mode));
  return UniqueFile(_wfopen(path.c_str(), wideMode.c_str()));
}

bool RemoveFile(const std::string& utf8Path) {
  if (HoldsNul(utf8Path)) return false;
  const std::wstring path = WideFromUtf8(utf8Path);
  return !path.empty() && _wremove(path.c_str()) == 0;
}

bool RenameOver(const std::string& from, const std::string& to) {
  if (HoldsNul(from) || HoldsNul(to)) return false;
  const std::wstring source = WideFromUtf8(from);
  const std::wstring target = WideFromUtf8(to);
  return !source.empty() && !target.empty() &&
         MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}
#else
UniqueFile OpenFile(const std::string& utf8Path, const char* mode) {
  if (utf8Path.empty() || HoldsNul(utf8Path)) return nullptr;
  return UniqueFile(std::fopen(utf8Path.c_str(), mode));
}

bool RemoveFile(const std::string& utf8Path) {
  return !utf8Path.empty() && !HoldsNul(utf8Path) && std::remove(utf8Path.c_str()) == 0;
}

bool RenameOver(const std::string& from, const std::string& to) {
  return !from.empty() && !to.empty() && !HoldsNul(from) && !HoldsNul(to) &&
         std::rename(from.c_str(), to.c_str()) == 0;
}
#endif

std::string PartialPath(const std::string& utf8Path) { return utf8Path + ".partial"; }

std::optional<std::string> ReadFilePrefix(const std::string& utf8Path, std::size_t maxBytes) {
  UniqueFile file = OpenFile(utf8Path, "rb");
  if (!file) return std::nullopt;
  std::string content(maxBytes, '\0');
  const std::size_t read = std::fread(content.data(), 1, maxBytes, file.get());
  if (std::ferror(file.get())) return std::nullopt;
  content.resize(read);
  return content;
}

std::optional<std::string> ReadWholeFile(const std::string& utf8Path) {
  UniqueFile file = OpenFile(utf8Path, "rb");
  if (!file) return std::nullopt;
  std::string content;
  char chunk[1 << 16];
  while (true) {
    const std::size_t read = std::fread(chunk, 1, sizeof chunk, file.get());
    content.append(chunk, read);
    if (read < sizeof chunk) break;
  }
  if (std::ferror(file.get())) return std::nullopt;
  return content;
}

}  // namespace sheetsmith
