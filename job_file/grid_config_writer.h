// The host's side of the grid job file: the text the page composer reads.
#pragma once

#include <optional>
#include <string>

#include "grid_request.h"

namespace runner::printing {

struct GridConfigText {
  std::string text;         // UTF-8 with its byte order mark, LF line ends
  std::size_t effectLines;  // effects records written (neutral ones are left out)
};

// The job file's content for `request`.
GridConfigText BuildGridConfig(const GridRequest& request);

// Whether a record leaves the photo as it is, so that the file need not carry
// it (the viewport and the stroke's scale, colour and side do not count).
bool IsNeutralForJobFile(const GridImageEffects& effects);

// Why the job file could not carry `request` so that the composer reads it
// back the same, or nullopt when it can. The file has one path a line, skips
// comments, and trims leading blanks: an empty page path or one holding a
// NUL, a line break in any path or in the cut-line colour, or a path that
// starts with a blank, "#" or "[" would shift or change what is read. An
// empty frame or image path is fine: it is an empty line in its own place
// (for images the file says so with keepEmptyImageLines=1), and so is one
// holding a NUL, which names no file the composer could open.
std::optional<std::string> ReasonJobFileCannotCarry(const GridRequest& request);

// How long a page composer may write nothing before it is stopped, in
// milliseconds: `override` when it is a whole number from 1 to the default,
// else kComposerWatchdogMs. Only tests set an override, to keep their runs
// short.
inline constexpr int kComposerWatchdogMs = 60000;
int ComposerWatchdogMs(const char* override);

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
