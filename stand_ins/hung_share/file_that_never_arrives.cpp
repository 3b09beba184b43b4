// Serves \\.\pipe\NAME, a path any program opens as it opens a file, and
// never writes to it: the opener's first read waits for as long as this
// program runs, as a read from a hung share or an undownloaded cloud file
// waits on Windows. Says "ready" once the path can be opened; ends when it
// is killed.
//   file_that_never_arrives.exe NAME
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

// Openers it can hold at once: every instance of the pipe is made before
// "ready", so that no opener finds them all taken while another is made.
constexpr int kOpeners = 16;

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fputs("usage: file_that_never_arrives.exe NAME\n", stderr);
    return 2;
  }
  const std::wstring path = std::wstring(L"\\\\.\\pipe\\") + argv[1];
  std::vector<HANDLE> instances;  // held open, and silent, until the end
  for (int i = 0; i < kOpeners; ++i) {
    const HANDLE pipe = CreateNamedPipeW(path.c_str(), PIPE_ACCESS_DUPLEX,
                                         PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT,
                                         kOpeners, 4096, 4096, 0, nullptr);
    if (pipe == INVALID_HANDLE_VALUE) {
      std::fprintf(stderr, "CreateNamedPipeW failed: %lu\n", GetLastError());
      return 1;
    }
    instances.push_back(pipe);
  }
  std::fputs("ready\n", stdout);
  std::fflush(stdout);
  for (;;) Sleep(INFINITE);
}
