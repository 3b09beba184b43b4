// The composer's heartbeat line, written and read.
#include "job_file/heartbeat_line.h"

#include <charconv>

namespace sheetsmith {
namespace {

constexpr std::string_view kPrefix = "Sheetsmith: working, ";
constexpr std::string_view kInHand = ", in hand:";

// Takes the number at the start of `text` into `value`.
template <typename Number>
bool TakeNumber(std::string_view& text, Number& value) {
  if (text.empty() || text.front() == '-') return false;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end == text.data()) return false;
  text.remove_prefix(static_cast<std::size_t>(end - text.data()));
  return true;
}

bool TakeWords(std::string_view& text, std::string_view words) {
  if (text.substr(0, words.size()) != words) return false;
  text.remove_prefix(words.size());
  return true;
}

}  // namespace

std::string FormatHeartbeatLine(const HeartbeatEntry& entry) {
  std::string line = std::string(kPrefix) + std::to_string(entry.photosPlaced) + " of " +
                     std::to_string(entry.photos) + " photos placed, " +
                     std::to_string(entry.pagesSaved) + " of " + std::to_string(entry.pages) +
                     " pages saved";
  if (!entry.inHand.empty()) {
    line += kInHand;
    for (const std::size_t index : entry.inHand) {
      line += ' ';
      line += std::to_string(index);
    }
  }
  return line;
}

std::optional<HeartbeatEntry> ParseHeartbeatLine(std::string_view line) {
  if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  HeartbeatEntry entry;
  if (!TakeWords(line, kPrefix) || !TakeNumber(line, entry.photosPlaced) ||
      !TakeWords(line, " of ") || !TakeNumber(line, entry.photos) ||
      !TakeWords(line, " photos placed, ") || !TakeNumber(line, entry.pagesSaved) ||
      !TakeWords(line, " of ") || !TakeNumber(line, entry.pages) ||
      !TakeWords(line, " pages saved")) {
    return std::nullopt;
  }
  if (line.empty()) return entry;
  if (!TakeWords(line, kInHand)) return std::nullopt;
  while (!line.empty()) {
    std::size_t index = 0;
    if (!TakeWords(line, " ") || !TakeNumber(line, index)) return std::nullopt;
    entry.inHand.push_back(index);
  }
  if (entry.inHand.empty()) return std::nullopt;
  return entry;
}

}  // namespace sheetsmith
