// The composer's line for an unreadable photo or frame, written and read.
#include "job_file/unreadable_line.h"

#include <charconv>

namespace sheetsmith {
namespace {

constexpr std::string_view kPrefix = "Sheetsmith: Unreadable ";

constexpr ReadProblem::Kind kKinds[] = {
    ReadProblem::Kind::kMissing, ReadProblem::Kind::kCannotOpen, ReadProblem::Kind::kUnsupported,
    ReadProblem::Kind::kDamaged, ReadProblem::Kind::kCutShort,   ReadProblem::Kind::kTooLarge,
};

}  // namespace

std::string FormatUnreadableLine(const UnreadableEntry& entry) {
  std::string reason = entry.problem.detail.empty() ? "it cannot be read" : entry.problem.detail;
  for (char& c : reason) {
    if (c == '(' || c == ')' || c == '\n' || c == '\r') c = ' ';
  }
  // A problem of no kind is still a photo that could not be read.
  const std::string_view code = entry.problem ? ReadProblemCode(entry.problem.kind)
                                              : ReadProblemCode(ReadProblem::Kind::kDamaged);
  return std::string(kPrefix) + (entry.frame ? "frame " : "photo ") + std::to_string(entry.index) +
         " " + std::string(code) + " (" + reason + "): " + entry.path;
}

std::optional<UnreadableEntry> ParseUnreadableLine(std::string_view line) {
  if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (line.substr(0, kPrefix.size()) != kPrefix) return std::nullopt;
  line.remove_prefix(kPrefix.size());
  UnreadableEntry entry;
  if (line.substr(0, 6) == "photo ") {
    entry.frame = false;
  } else if (line.substr(0, 6) == "frame ") {
    entry.frame = true;
  } else {
    return std::nullopt;
  }
  line.remove_prefix(6);
  const auto [end, error] = std::from_chars(line.data(), line.data() + line.size(), entry.index);
  if (error != std::errc() || end == line.data() || end == line.data() + line.size() ||
      *end != ' ') {
    return std::nullopt;
  }
  line.remove_prefix(static_cast<std::size_t>(end - line.data()) + 1);
  const std::size_t space = line.find(" (");
  if (space == std::string_view::npos) return std::nullopt;
  const std::string_view code = line.substr(0, space);
  for (ReadProblem::Kind kind : kKinds) {
    if (ReadProblemCode(kind) == code) entry.problem.kind = kind;
  }
  if (!entry.problem) return std::nullopt;
  line.remove_prefix(space + 2);
  // The reason holds no bracket, so the first "): " ends it.
  const std::size_t close = line.find("): ");
  if (close == std::string_view::npos ||
      line.substr(0, close).find(')') != std::string_view::npos) {
    return std::nullopt;
  }
  entry.problem.detail = std::string(line.substr(0, close));
  entry.path = std::string(line.substr(close + 3));
  if (entry.path.empty()) return std::nullopt;
  return entry;
}

}  // namespace sheetsmith
