// The host's side of the grid job file: the text the page composer reads.
#pragma once

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

// Writes the job file into the host's temporary folder (made when missing)
// under a name unique to this run, and returns its full path, or an empty
// string when the file could not be created. Logs the number of effects
// records and of effects lines written.
std::wstring WriteGridConfig(const GridRequest& request);

}  // namespace runner::printing
