// The composer's console lines, on standard error.
#include "log.h"

#include <cstdio>

namespace sheetsmith {

void LogLine(std::string_view line) {
  std::string whole(line);
  whole.push_back('\n');
  std::fwrite(whole.data(), 1, whole.size(), stderr);
  std::fflush(stderr);
}

void LogLineLocked(std::mutex& mutex, std::string_view line) {
  std::lock_guard<std::mutex> lock(mutex);
  LogLine(line);
}

}  // namespace sheetsmith
