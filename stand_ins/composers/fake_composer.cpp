// Page composers that misbehave, for the host's tests: put in place of
// sheetsmith.exe, they show what the host does with a composer that hangs,
// one that claims pages it never wrote, and one that fails after writing a
// page.
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <cstdio>
#include <string>

namespace {

std::wstring Wide(const std::string& utf8) {
  std::wstring wide(utf8.size(), L'\0');
  wide.resize(static_cast<std::size_t>(MultiByteToWideChar(
      CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(),
      static_cast<int>(wide.size()))));
  return wide;
}

// The first path of the job file's [outputs].
std::string FirstOutput(const wchar_t* job) {
  std::FILE* file = _wfopen(job, L"rb");
  if (!file) return {};
  std::string text;
  char chunk[4096];
  for (std::size_t read; (read = std::fread(chunk, 1, sizeof chunk, file)) > 0;) {
    text.append(chunk, read);
  }
  std::fclose(file);
  const std::size_t section = text.find("[outputs]\n");
  if (section == std::string::npos) return {};
  const std::size_t start = section + 10;
  const std::size_t end = text.find_first_of("\r\n", start);
  return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

}  // namespace

int main() {
#if defined(FAKE_COMPOSER_HANGS)
  // Says something, then nothing ever again.
  std::fputs("Sheetsmith: Starting (stb version)...\n", stderr);
  std::fflush(stderr);
  for (;;) Sleep(INFINITE);
#elif defined(FAKE_COMPOSER_FAILS_AFTER_ONE_PAGE)
  // Writes the first page (as text the test knows), says so, and fails.
  int count = 0;
  wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  const std::string page = count > 1 ? FirstOutput(arguments[1]) : std::string();
  LocalFree(arguments);
  std::FILE* out = page.empty() ? nullptr : _wfopen(Wide(page).c_str(), L"wb");
  if (!out) return 2;
  std::fputs("the composer's page 1", out);
  std::fclose(out);
  std::fputs("Sheetsmith: Saved page 1/2\nSheetsmith: Wrote page 1\n", stderr);
  return 1;
#else
  // Claims success without writing a page.
  std::fputs("OK\n", stdout);
  std::fflush(stdout);
  return 0;
#endif
}
