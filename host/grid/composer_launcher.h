// Runs the page composer program for a grid request, and falls back to the
// host's own composer when the program is missing, cannot be started or
// fails.
#pragma once

#include <optional>
#include <string>

#include "grid_request.h"
#include "win32_owners.h"

namespace runner::printing {

// The full path at which sheetsmith.exe is expected: beside the host's own
// executable. Empty when the host's own path cannot be read: the composer
// then counts as not found.
std::wstring FindComposerPath();

// The composer's command line: both paths quoted.
std::wstring ComposerCommandLine(const std::wstring& composerPath, const std::wstring& jobPath);

// A composer started suspended, hidden, with its standard output and error
// joined into one pipe whose read end is `output`.
struct ComposerProcess {
  UniqueHandle process;
  UniqueHandle thread;
  UniqueHandle output;
};

// Starts the command line that way. The child inherits the pipe's write end
// and no other handle of the host, and no other child of the host ever
// inherits it: the pipe ends when this composer ends, whatever else runs.
// Nullopt when the pipe or the process could not be made.
std::optional<ComposerProcess> StartComposer(std::wstring commandLine);

}  // namespace runner::printing
