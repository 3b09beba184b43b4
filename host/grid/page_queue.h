// Grid requests that write the same pages are composed one after another,
// in the order they came; requests for other pages are not held up.
//
// The interface names its pages itself, and a user who asks for the pages
// again before the first run has ended sends a second request for the same
// paths. Composed at once, both would write the same files; composed in
// turn, the pages on disk when the last of them answers are that request's,
// and each request's pages are its own when it answers.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace runner::printing {

// The spelling of a page path under which the system finds the same file.
// On Windows: the full path as the system makes it (either slash, no "." or
// "..", no trailing dots or spaces, no "\\?\"), with its folders' and its
// file's long names where they exist. Elsewhere: either slash, ASCII letters
// in one case (the tests' stand-in for Windows' rule).
std::string PageKey(const std::string& path);

// How two keys order as the file system tells names apart: on Windows
// without regard to case, as NTFS does (CompareStringOrdinal ignoring case,
// which folds every letter, not only ASCII). Negative, zero or positive.
int ComparePageKeys(const std::string& a, const std::string& b);

class PageQueue {
 public:
  struct Entry;

  // A request's place in the queue, from its arrival until it leaves. Moves;
  // leaves when it goes, if not before.
  class Place {
   public:
    Place() = default;
    Place(Place&&) noexcept;
    Place& operator=(Place&&) noexcept;
    ~Place();

    // Returns once every request that came before with a page in common has
    // left.
    void WaitForTurn();
    // Lets the requests behind it on; once only.
    void Leave();

   private:
    friend class PageQueue;
    Place(PageQueue* queue, std::shared_ptr<Entry> entry)
        : queue_(queue), entry_(std::move(entry)) {}
    PageQueue* queue_ = nullptr;
    std::shared_ptr<Entry> entry_;
  };

  PageQueue();
  ~PageQueue();
  PageQueue(const PageQueue&) = delete;
  PageQueue& operator=(const PageQueue&) = delete;

  // Takes the next place, for a request writing `pages`. Called in the order
  // requests come (on the platform thread).
  Place Enter(const std::vector<std::string>& pages);

  // Requests that have entered and not left.
  int Size();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The queue of the host's grid requests; never destroyed, like the job
// table, since a request abandoned at exit may still leave it.
PageQueue& GridPageQueue();

}  // namespace runner::printing
