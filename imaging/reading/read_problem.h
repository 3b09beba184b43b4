// Why a photo or frame could not be read: a kind the programs' log lines
// name with a fixed word, and the reader's own words for the detail.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace sheetsmith {

struct ReadProblem {
  enum class Kind {
    kNone,
    kMissing,      // no file at the path
    kCannotOpen,   // a file is there but cannot be opened (locked, no access)
    kUnsupported,  // a format no reader here reads
    kDamaged,      // the data is not what its format says
    kCutShort,     // the file ends before the picture does
    kTooLarge,     // beyond the readers' limits (read_limits.h)
  };
  Kind kind = Kind::kNone;
  std::string detail;

  explicit operator bool() const { return kind != Kind::kNone; }
};

// The one-word name of a kind, as log lines carry it: "missing",
// "cannot-open", "unsupported", "damaged", "cut-short", "too-large"; empty
// for kNone.
std::string_view ReadProblemCode(ReadProblem::Kind kind);

// Sets `problem` (when given and not yet set to an earlier reason) and
// returns false, so that a reader can fail with `return Fail(problem, kind,
// "why")`; Refuse is the same for a reader that returns an optional.
bool Fail(ReadProblem* problem, ReadProblem::Kind kind, std::string detail);
std::nullopt_t Refuse(ReadProblem* problem, ReadProblem::Kind kind, std::string detail);

// Why a file could not be opened, from errno as the open left it: kMissing
// when there is no such file or folder, else kCannotOpen.
ReadProblem OpenFailure();

}  // namespace sheetsmith
