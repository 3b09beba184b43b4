// A program that leaves a file beside itself, named like it with ".ran"
// added, whenever it runs: the host's tests show with it that nothing the
// host is given as a photo is ever started as a program.
#include <windows.h>

#include <string>

int wmain() {
  wchar_t path[MAX_PATH * 4];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
  if (length == 0 || length >= MAX_PATH * 4) return 1;
  const std::wstring marker = std::wstring(path, length) + L".ran";
  HANDLE file = CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  CloseHandle(file);
  return 0;
}
