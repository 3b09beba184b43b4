// The job file written: the text the page composer reads (ParseConfigText)
// for a GridConfig, and what a job file cannot carry.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "job_file/grid_config.h"

namespace sheetsmith {

struct GridConfigText {
  std::string text;         // UTF-8 with its byte order mark, LF line ends
  std::size_t effectLines;  // effects records written (neutral ones are left out)
};

// The job file's content for `config`. Every setting is written; the colour
// target only when it is not sRGB, the magnet aspect ratio only when it is
// above 0, and keepEmptyImageLines=1 when a photo's path names no file (is
// empty or holds a NUL), which is then an empty line in its place.
GridConfigText BuildGridConfig(const GridConfig& config);

// Whether a record leaves the photo as it is, so that the file need not carry
// it (the viewport and the stroke's scale, colour and side do not count).
bool IsNeutralForJobFile(const GridImageEffects& effects);

// Why the job file could not carry `config` so that the composer reads it
// back the same, or nullopt when it can. The file has one path a line, skips
// comments, and trims leading blanks: an empty page path or one holding a
// NUL, a line break in any path or in the cut-line colour, or a path that
// starts with a blank, "#" or "[" would shift or change what is read. An
// empty frame or image path is fine: it is an empty line in its own place
// (for images the file says so with keepEmptyImageLines=1), and so is one
// holding a NUL, which names no file the composer could open.
std::optional<std::string> ReasonJobFileCannotCarry(const GridConfig& config);

}  // namespace sheetsmith
