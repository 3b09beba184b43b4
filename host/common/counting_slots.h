// A counting semaphore: at most `count` holders at once, the others wait.
// It caps the page composers of background grid jobs and the baking threads
// of the whole process.
#pragma once

#include <condition_variable>
#include <mutex>

namespace runner {

class CountingSlots {
 public:
  explicit CountingSlots(int count) : free_(count) {}
  CountingSlots(const CountingSlots&) = delete;
  CountingSlots& operator=(const CountingSlots&) = delete;

  void Acquire() {
    std::unique_lock<std::mutex> lock(mutex_);
    freed_.wait(lock, [this] { return free_ > 0; });
    --free_;
  }
  void Release() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++free_;
    }
    freed_.notify_one();
  }

  // Holds one slot for as long as it lives.
  class Held {
   public:
    explicit Held(CountingSlots& slots) : slots_(slots) { slots_.Acquire(); }
    ~Held() { slots_.Release(); }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;

   private:
    CountingSlots& slots_;
  };

 private:
  std::mutex mutex_;
  std::condition_variable freed_;
  int free_;
};

}  // namespace runner
