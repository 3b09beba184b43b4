// What the host reads from one composition while it runs and after it ends:
// the progress lines of the page composer, counted into a GridProgress that
// the background job's polls read, and which pages the run really wrote.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "grid_request.h"

namespace runner::printing {

// Photos and pages a composition has done so far, for the polls of a
// background job. Written by the composition's thread, read by polls on
// another: every count is atomic, and the done counts never go back (a
// fallback that makes the pages again counts from where the composer was).
class GridProgress {
 public:
  struct Counts {
    std::int32_t photosDone = 0;
    std::int32_t photosTotal = 0;
    std::int32_t pagesDone = 0;
    std::int32_t pagesTotal = 0;
  };

  void SetTotals(std::int32_t photos, std::int32_t pages);
  void PhotosDone(std::int32_t count);
  void PagesDone(std::int32_t count);
  Counts Read() const;
  // A photo that could not be read, by its index in the request's
  // "imagePaths"; told by the composer's line or by the host's composer.
  void PhotoUnreadable(std::size_t index);
  // Those photos, ascending, each once.
  std::vector<std::size_t> UnreadablePhotos() const;

 private:
  static void Raise(std::atomic<std::int32_t>& count, std::int32_t to);

  mutable std::mutex unreadableMutex_;
  std::set<std::size_t> unreadable_;

  std::atomic<std::int32_t> photosDone_{0};
  std::atomic<std::int32_t> photosTotal_{0};
  std::atomic<std::int32_t> pagesDone_{0};
  std::atomic<std::int32_t> pagesTotal_{0};
};

// The photos of a request that have a cell on one of its pages.
std::int32_t PhotosPlaced(const GridRequest& request);

// The answer to a request whose composer was stopped after `limitMs` in
// which it placed no photo and saved no page, naming the photos it held.
std::string StalledMessage(const GridRequest& request, const std::vector<std::size_t>& inHand,
                           int limitMs);

// The composer's console output as it arrives in pieces. Complete lines are
// read for progress: "Sheetsmith: [k/N]", its heartbeat (heartbeat_line.h)
// and "Sheetsmith: Saved page k/M"; for the photos in its workers' hands;
// and for the photos it could not read ("Sheetsmith: Unreadable photo ...").
class ComposerOutput {
 public:
  explicit ComposerOutput(GridProgress& progress) : progress_(progress) {}

  // Adds what the pipe gave; returns how many lines it completed.
  int Append(std::string_view bytes);
  const std::string& text() const { return text_; }
  // The pages (by index, of `pageCount`) that no "Sheetsmith: Wrote page P"
  // line has named: those the composer did not write.
  std::vector<std::size_t> PagesNotWritten(std::size_t pageCount) const;
  // How much the composer has done: grows with every photo placed and page
  // saved or written, and only then; a composer whose lines leave it
  // unchanged is not getting on, however much it says.
  std::int64_t WorkDone() const {
    return photosPlaced_ + pagesSaved_ + static_cast<std::int64_t>(written_.size());
  }
  // The photos the last heartbeat named in the workers' hands (by their
  // place in the request's "imagePaths").
  const std::vector<std::size_t>& PhotosInHand() const { return inHand_; }

 private:
  void ReadLine(std::string_view line);

  GridProgress& progress_;
  std::int64_t photosPlaced_ = 0;  // the most any line said
  std::int64_t pagesSaved_ = 0;
  std::vector<std::size_t> inHand_;
  std::set<std::size_t> written_;  // pages from 0
  std::string text_;
  std::size_t lineStart_ = 0;
};

}  // namespace runner::printing
