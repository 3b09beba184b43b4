// Requests for the same pages queued behind one another.
#include "page_queue.h"

#include <algorithm>
#include <condition_variable>
#include <list>
#include <mutex>
#include <set>

namespace runner::printing {

namespace {

struct KeyLess {
  bool operator()(const std::string& a, const std::string& b) const {
    return ComparePageKeys(a, b) < 0;
  }
};

}  // namespace

struct PageQueue::Entry {
  std::uint64_t order = 0;
  std::set<std::string, KeyLess> pages;
};

struct PageQueue::State {
  std::mutex mutex;
  std::condition_variable changed;
  std::list<std::shared_ptr<Entry>> entries;  // in the order they came
  std::uint64_t nextOrder = 0;

  // Whether an entry that came before `entry` shares a page with it. Called
  // under the lock.
  bool Blocked(const Entry& entry) const {
    for (const std::shared_ptr<Entry>& other : entries) {
      if (other->order >= entry.order) break;
      for (const std::string& page : other->pages) {
        if (entry.pages.count(page) != 0) return true;
      }
    }
    return false;
  }
};

PageQueue::PageQueue() : state_(std::make_unique<State>()) {}
PageQueue::~PageQueue() = default;

PageQueue::Place PageQueue::Enter(const std::vector<std::string>& pages) {
  auto entry = std::make_shared<Entry>();
  for (const std::string& page : pages) entry->pages.insert(PageKey(page));
  std::lock_guard<std::mutex> lock(state_->mutex);
  entry->order = state_->nextOrder++;
  state_->entries.push_back(entry);
  return Place(this, std::move(entry));
}

int PageQueue::Size() {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return static_cast<int>(state_->entries.size());
}

PageQueue::Place::Place(Place&& other) noexcept
    : queue_(other.queue_), entry_(std::move(other.entry_)) {
  other.queue_ = nullptr;
}

PageQueue::Place& PageQueue::Place::operator=(Place&& other) noexcept {
  if (this != &other) {
    Leave();
    queue_ = other.queue_;
    entry_ = std::move(other.entry_);
    other.queue_ = nullptr;
  }
  return *this;
}

PageQueue::Place::~Place() { Leave(); }

void PageQueue::Place::WaitForTurn() {
  if (!queue_ || !entry_) return;
  State& state = *queue_->state_;
  std::unique_lock<std::mutex> lock(state.mutex);
  state.changed.wait(lock, [&] { return !state.Blocked(*entry_); });
}

void PageQueue::Place::Leave() {
  if (!queue_ || !entry_) return;
  State& state = *queue_->state_;
  {
    std::lock_guard<std::mutex> lock(state.mutex);
    state.entries.remove(entry_);
  }
  state.changed.notify_all();
  queue_ = nullptr;
  entry_.reset();
}

PageQueue& GridPageQueue() {
  static PageQueue* queue = new PageQueue;
  return *queue;
}

}  // namespace runner::printing
