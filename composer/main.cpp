// sheetsmith: composes the magnet pages of one grid job file.
#include <string>
#include <vector>

#include "driver.h"

#ifdef _WIN32
#include "imaging/system/file_io.h"

int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) args.push_back(sheetsmith::Utf8FromWide(argv[i]));
  return sheetsmith::RunSheetsmith(args);
}
#else
int main(int argc, char** argv) {
  return sheetsmith::RunSheetsmith(std::vector<std::string>(argv, argv + argc));
}
#endif
