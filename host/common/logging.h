// The host's diagnostic lines: each written whole, with its line end, and
// flushed at once. Most go to standard error; the colour-profile lines to
// standard output.
#pragma once

#include <string>
#include <string_view>

#include "imaging/system/text.h"

namespace runner {

void LogError(std::string_view line);
void LogOutput(std::string_view line);
// Text written as it stands, in one piece (no line end added).
void LogErrorRaw(std::string_view text);

// printf's %g: 6 significant digits, as the job file writes its numbers.
using sheetsmith::FormatG;

}  // namespace runner
