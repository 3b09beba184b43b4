// The line the composer writes for a photo or frame it cannot read, in the
// fixed form the host reads back to tell the interface which magnets stay
// white and why:
//   Sheetsmith: Unreadable photo|frame INDEX CODE (REASON): PATH
// INDEX is the photo's place in the job file's [images], from 0; CODE one of
// ReadProblemCode's words ("missing", "cannot-open", "unsupported",
// "damaged", "cut-short", "too-large"); REASON the reader's words, which
// never hold a bracket or a line end; PATH the path as the job gave it, to
// the end of the line.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "imaging/reading/read_problem.h"

namespace sheetsmith {

struct UnreadableEntry {
  bool frame = false;  // the photo's frame, not the photo
  std::size_t index = 0;
  ReadProblem problem;
  std::string path;
};

std::string FormatUnreadableLine(const UnreadableEntry& entry);

// The entry a line of the composer's standard error stands for, or nullopt
// for every other line (a line end at its end is allowed).
std::optional<UnreadableEntry> ParseUnreadableLine(std::string_view line);

}  // namespace sheetsmith
