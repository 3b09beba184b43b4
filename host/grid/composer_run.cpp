// The composer's progress lines counted, and the pages a run wrote.
#include "composer_run.h"

#include <algorithm>
#include <charconv>

#include "imaging/system/text.h"
#include "job_file/heartbeat_line.h"
#include "job_file/unreadable_line.h"

namespace runner::printing {
namespace {

// The number at the start of `text`, with what follows it.
std::optional<std::int32_t> LeadingNumber(std::string_view text, std::string_view& rest) {
  std::int32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end == text.data()) return std::nullopt;
  rest = text.substr(static_cast<std::size_t>(end - text.data()));
  return value;
}

// The k of "PREFIX k SEPARATOR ..." in `line`, or nullopt.
std::optional<std::int32_t> CountAfter(std::string_view line, std::string_view prefix,
                                       std::string_view separator) {
  if (line.substr(0, prefix.size()) != prefix) return std::nullopt;
  std::string_view rest;
  const std::optional<std::int32_t> count = LeadingNumber(line.substr(prefix.size()), rest);
  if (!count || rest.substr(0, separator.size()) != separator) return std::nullopt;
  return count;
}

// The k of a line that is "PREFIX k" and nothing more, or nullopt.
std::optional<std::int32_t> NumberLine(std::string_view line, std::string_view prefix) {
  if (line.substr(0, prefix.size()) != prefix) return std::nullopt;
  std::string_view rest;
  const std::optional<std::int32_t> number = LeadingNumber(line.substr(prefix.size()), rest);
  if (!number || !rest.empty()) return std::nullopt;
  return number;
}

}  // namespace

void GridProgress::Raise(std::atomic<std::int32_t>& count, std::int32_t to) {
  std::int32_t now = count.load();
  while (to > now && !count.compare_exchange_weak(now, to)) {
  }
}

void GridProgress::SetTotals(std::int32_t photos, std::int32_t pages) {
  photosTotal_.store(photos);
  pagesTotal_.store(pages);
}

void GridProgress::PhotosDone(std::int32_t count) { Raise(photosDone_, count); }
void GridProgress::PagesDone(std::int32_t count) { Raise(pagesDone_, count); }

GridProgress::Counts GridProgress::Read() const {
  return {photosDone_.load(), photosTotal_.load(), pagesDone_.load(), pagesTotal_.load()};
}

void GridProgress::PhotoUnreadable(std::size_t index) {
  std::lock_guard<std::mutex> lock(unreadableMutex_);
  unreadable_.insert(index);
}

std::vector<std::size_t> GridProgress::UnreadablePhotos() const {
  std::lock_guard<std::mutex> lock(unreadableMutex_);
  return {unreadable_.begin(), unreadable_.end()};
}

std::int32_t PhotosPlaced(const GridRequest& request) {
  if (request.rows <= 0 || request.columns <= 0) return 0;
  const std::int64_t cells = static_cast<std::int64_t>(request.rows) * request.columns *
                             static_cast<std::int64_t>(request.outputPaths.size());
  return static_cast<std::int32_t>(
      std::min<std::int64_t>(cells, static_cast<std::int64_t>(request.imagePaths.size())));
}

std::string StalledMessage(const GridRequest& request, const std::vector<std::size_t>& inHand,
                           int limitMs) {
  std::string message = "The page composer placed no photo and saved no page for " +
                        sheetsmith::FormatG(limitMs / 1000.0) + " s and was stopped";
  std::string photos;
  for (const std::size_t index : inHand) {
    if (index >= request.imagePaths.size()) continue;
    if (!photos.empty()) photos += "; ";
    photos += request.imagePaths[index];
  }
  if (!photos.empty()) message += "; it was waiting for " + photos;
  return message;
}

int ComposerOutput::Append(std::string_view bytes) {
  text_.append(bytes);
  int lines = 0;
  for (std::size_t end = text_.find('\n', lineStart_); end != std::string::npos;
       end = text_.find('\n', lineStart_)) {
    std::string_view line(text_.data() + lineStart_, end - lineStart_);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    ReadLine(line);
    lineStart_ = end + 1;
    ++lines;
  }
  return lines;
}

void ComposerOutput::ReadLine(std::string_view line) {
  if (const auto k = CountAfter(line, "Sheetsmith: [", "/")) {
    progress_.PhotosDone(*k);
    photosPlaced_ = std::max<std::int64_t>(photosPlaced_, *k);
  } else if (const auto beat = sheetsmith::ParseHeartbeatLine(line)) {
    progress_.PhotosDone(beat->photosPlaced);
    progress_.PagesDone(beat->pagesSaved);
    photosPlaced_ = std::max<std::int64_t>(photosPlaced_, beat->photosPlaced);
    pagesSaved_ = std::max<std::int64_t>(pagesSaved_, beat->pagesSaved);
    inHand_ = beat->inHand;
  } else if (const auto saved = CountAfter(line, "Sheetsmith: Saved page ", "/")) {
    progress_.PagesDone(*saved);
    pagesSaved_ = std::max<std::int64_t>(pagesSaved_, *saved);
  } else if (const auto page = NumberLine(line, "Sheetsmith: Wrote page ")) {
    if (*page >= 1) written_.insert(static_cast<std::size_t>(*page) - 1);
  } else if (const auto unreadable = sheetsmith::ParseUnreadableLine(line)) {
    if (!unreadable->frame) progress_.PhotoUnreadable(unreadable->index);
  }
}

std::vector<std::size_t> ComposerOutput::PagesNotWritten(std::size_t pageCount) const {
  std::vector<std::size_t> pages;
  for (std::size_t i = 0; i < pageCount; ++i) {
    if (written_.count(i) == 0) pages.push_back(i);
  }
  return pages;
}

}  // namespace runner::printing
