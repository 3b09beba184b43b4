// Runs the page composer program for a grid request, and falls back to the
// host's own composer when the program is missing, cannot be started or
// fails.
#pragma once

#include <string>

#include "grid_request.h"

namespace runner::printing {

// The full path at which sheetsmith.exe is expected: beside the host's own
// executable. Empty when the host's own path cannot be read: the composer
// then counts as not found.
std::wstring FindComposerPath();

// The composer's command line: both paths quoted.
std::wstring ComposerCommandLine(const std::wstring& composerPath, const std::wstring& jobPath);

}  // namespace runner::printing
