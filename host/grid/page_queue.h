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

// The spelling of a page path under which Windows finds the same file:
// separators made one, ASCII letters in one case.
std::string PageKey(const std::string& path);

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
