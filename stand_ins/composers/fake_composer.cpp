// Page composers that misbehave, for the host's tests: put in place of
// sheetsmith.exe, they show what the host does with a composer that hangs
// or one that claims pages it never wrote.
#include <windows.h>

#include <cstdio>

int main() {
#if defined(FAKE_COMPOSER_HANGS)
  // Says something, then nothing ever again.
  std::fputs("Sheetsmith: Starting (stb version)...\n", stderr);
  std::fflush(stderr);
  for (;;) Sleep(INFINITE);
#else
  // Claims success without writing a page.
  std::fputs("OK\n", stdout);
  std::fflush(stdout);
  return 0;
#endif
}
