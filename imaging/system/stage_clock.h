// The clock the work of a stage is timed with, for benchmarks: where the
// system keeps a fine clock of each thread's processor time (Linux and the
// other POSIX systems) it is that time, so that the sum over threads is the
// work done however the threads were scheduled; elsewhere it is wall time
// (Windows counts a thread's time only in scheduler ticks of about 16 ms).
#pragma once

#include <atomic>
#include <cstdint>

namespace sheetsmith {

// The clock, in nanoseconds: the calling thread's processor time, or a
// monotonic clock where that is not kept finely.
std::int64_t StageClockNs();

// Adds the time from construction to destruction to one counter.
class StageTimer {
 public:
  explicit StageTimer(std::atomic<std::int64_t>& counter)
      : counter_(counter), start_(StageClockNs()) {}
  ~StageTimer() { counter_.fetch_add(StageClockNs() - start_, std::memory_order_relaxed); }
  StageTimer(const StageTimer&) = delete;
  StageTimer& operator=(const StageTimer&) = delete;

 private:
  std::atomic<std::int64_t>& counter_;
  std::int64_t start_;
};

}  // namespace sheetsmith
