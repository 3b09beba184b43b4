// Console lines of the composer. Every line goes out whole, with its line end,
// and is flushed at once so that the host sees it as it happens.
#pragma once

#include <mutex>
#include <string>
#include <string_view>

#include "imaging/system/text.h"

namespace sheetsmith {

void LogLine(std::string_view line);

// Writes the line while holding `mutex`, so that lines of several workers
// never interleave.
void LogLineLocked(std::mutex& mutex, std::string_view line);

}  // namespace sheetsmith
