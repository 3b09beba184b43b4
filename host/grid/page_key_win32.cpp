// Page keys as Windows resolves a path to a file: the full path the system
// makes of it, with long names, compared as the file system compares names.
#include <windows.h>

#include <algorithm>
#include <string_view>

#include "imaging/system/file_io.h"
#include "page_queue.h"

namespace runner::printing {
namespace {

using sheetsmith::Utf8FromWide;
using sheetsmith::WideFromUtf8;

constexpr std::wstring_view kExtended = L"\\\\?\\";
constexpr std::wstring_view kExtendedUnc = L"\\\\?\\UNC\\";

bool StartsWith(std::wstring_view text, std::wstring_view start) {
  return text.substr(0, start.size()) == start;
}

// The path without its "\\?\" (or "\\?\UNC\") prefix, which only tells the
// system not to normalise it.
std::wstring WithoutExtended(std::wstring path) {
  if (StartsWith(path, kExtendedUnc)) return L"\\\\" + path.substr(kExtendedUnc.size());
  if (StartsWith(path, kExtended)) return path.substr(kExtended.size());
  return path;
}

// A whole path as long-path calls take it whatever its length.
std::wstring Extended(const std::wstring& whole) {
  if (StartsWith(whole, L"\\\\")) return std::wstring(kExtendedUnc) + whole.substr(2);
  return std::wstring(kExtended) + whole;
}

// The full path GetFullPathNameW makes: relative to the current folder,
// "." and ".." gone, a trailing run of dots and spaces gone, separators made
// one. Empty when it cannot.
std::wstring FullPath(const std::wstring& path) {
  DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (size == 0) return {};
  std::wstring full(size, L'\0');
  size = GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
  if (size == 0 || size >= full.size()) return {};
  full.resize(size);
  return full;
}

// Where the folders of a full path begin: after "C:" or "\\server\share".
std::size_t RootEnd(const std::wstring& full) {
  if (StartsWith(full, L"\\\\")) {
    const std::size_t server = full.find(L'\\', 2);
    if (server == std::wstring::npos) return full.size();
    const std::size_t share = full.find(L'\\', server + 1);
    return share == std::wstring::npos ? full.size() : share;
  }
  return full.size() >= 2 && full[1] == L':' ? 2 : 0;
}

// The long name of an existing file or folder; empty when it does not exist.
// A path that fits is asked as it is: Wine takes a "\\?\" path for a UNC
// one and hands it back unchanged.
std::wstring ExistingLongName(const std::wstring& full) {
  const std::wstring asked = full.size() < MAX_PATH ? full : Extended(full);
  DWORD size = GetLongPathNameW(asked.c_str(), nullptr, 0);
  if (size == 0) return {};
  std::wstring found(size, L'\0');
  size = GetLongPathNameW(asked.c_str(), found.data(), size);
  if (size == 0 || size >= found.size()) return {};
  found.resize(size);
  return WithoutExtended(found);
}

// The full path with the long names of as much of it as exists: a page not
// yet written keeps its own name, in its folder's long name.
std::wstring LongNames(const std::wstring& full) {
  const std::size_t root = RootEnd(full);
  std::wstring head = full;
  while (head.size() > root) {
    if (std::wstring found = ExistingLongName(head); !found.empty()) {
      std::wstring rest = full.substr(head.size());
      if (found.back() == L'\\' && !rest.empty() && rest.front() == L'\\') {
        rest.erase(0, 1);
      }
      return found + rest;
    }
    const std::size_t cut = head.find_last_of(L'\\');
    if (cut == std::wstring::npos || cut < root) break;
    // "C:\x" goes up to "C:\", never to "C:" (the current folder on C:).
    const std::size_t up = cut == root ? cut + 1 : cut;
    if (up >= head.size()) break;
    head.resize(up);
  }
  return full;
}

}  // namespace

std::string PageKey(const std::string& path) {
  std::wstring wide = WideFromUtf8(path);
  if (wide.empty()) return path;
  std::replace(wide.begin(), wide.end(), L'/', L'\\');
  const std::wstring full = FullPath(WithoutExtended(wide));
  if (full.empty()) return Utf8FromWide(wide);
  // Only a path with a short name in it is looked up on the disk (every 8.3
  // name the system makes has a tilde): the key is made on the platform
  // thread, which must not wait on a slow share for an ordinary path.
  if (full.find(L'~') == std::wstring::npos) return Utf8FromWide(full);
  return Utf8FromWide(LongNames(full));
}

int ComparePageKeys(const std::string& a, const std::string& b) {
  const std::wstring wideA = WideFromUtf8(a);
  const std::wstring wideB = WideFromUtf8(b);
  const int order =
      CompareStringOrdinal(wideA.c_str(), static_cast<int>(wideA.size()), wideB.c_str(),
                           static_cast<int>(wideB.size()), TRUE);
  if (order == CSTR_LESS_THAN) return -1;
  if (order == CSTR_GREATER_THAN) return 1;
  if (order == CSTR_EQUAL) return 0;
  return a.compare(b);  // not comparable as text (not UTF-8): by bytes
}

}  // namespace runner::printing
