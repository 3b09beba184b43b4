// The host's diagnostic lines, each written and flushed whole.
#include "logging.h"

#include <cstdio>

namespace runner {
namespace {

void Write(std::FILE* stream, std::string_view text, bool lineEnd) {
  std::string whole(text);
  if (lineEnd) whole.push_back('\n');
  std::fwrite(whole.data(), 1, whole.size(), stream);
  std::fflush(stream);
}

}  // namespace

void LogError(std::string_view line) { Write(stderr, line, true); }
void LogOutput(std::string_view line) { Write(stdout, line, true); }
void LogErrorRaw(std::string_view text) { Write(stderr, text, false); }

}  // namespace runner
