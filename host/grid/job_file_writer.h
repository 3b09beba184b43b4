// The host's side of the grid job file: a request as the job file carries
// it, written into the host's temporary folder for one composer run; and
// where the composer is, and how long it may stay silent.
#pragma once

#include <optional>
#include <string>

#include "grid_request.h"
#include "job_file/grid_config_writer.h"

namespace runner::printing {

using sheetsmith::GridConfigText;

// The job file's settings, paths and effects for `request`.
sheetsmith::GridConfig JobFileConfig(const GridRequest& request);

// The job file's content for `request`, and why it could not carry it (see
// sheetsmith::ReasonJobFileCannotCarry; a request's colour selection is the
// file's colour target).
GridConfigText BuildGridConfig(const GridRequest& request);
std::optional<std::string> ReasonJobFileCannotCarry(const GridRequest& request);

// How long a page composer may place no photo and save no page before it
// is stopped, and how long the host's own composer waits for a photo's
// bytes, in milliseconds: `override` when it is a whole number from 1 to the
// default, else kComposerWatchdogMs. Only tests set an override, to keep
// their runs short.
inline constexpr int kComposerWatchdogMs = 60000;
int ComposerWatchdogMs(const char* override);
// The same, from KORVELA_COMPOSER_WATCHDOG_MS.
int ComposerStallLimitMs();

// sheetsmith.exe in the folder of the program at `programPath`; empty when
// the path names no folder (a bare name would be searched for along the
// current folder and the search path, which is no place to take a program
// from).
std::wstring ComposerPathBeside(const std::wstring& programPath);

// Writes the job file into the host's temporary folder (made when missing)
// under a name unique to this run, and returns its full path, or an empty
// string when the file could not be created. Logs the number of effects
// records and of effects lines written.
std::wstring WriteGridConfig(const GridRequest& request);

}  // namespace runner::printing
