// Time spent in each stage of composing, summed over all workers (and the
// page writer's helper threads). The composer prints these only when
// SHEETSMITH_TIMINGS is set, for benchmarks. Where the system keeps a fine
// clock of each thread's processor time (Linux and the other POSIX systems)
// they are that time, so that their sum is the work the stages took however
// the threads were scheduled; elsewhere they are wall time (Windows counts a
// thread's time only in scheduler ticks of about 16 ms).
#pragma once

#include <atomic>
#include <cstdint>

namespace sheetsmith {

struct StageTimes {
  std::atomic<std::int64_t> decodeNs{0};
  std::atomic<std::int64_t> turnNs{0};
  std::atomic<std::int64_t> resizeNs{0};
  std::atomic<std::int64_t> effectsNs{0};
  std::atomic<std::int64_t> colorNs{0};
  std::atomic<std::int64_t> encodeNs{0};
};

StageTimes& GlobalStageTimes();

// The clock the stages are timed with, in nanoseconds: the calling thread's
// processor time, or a monotonic clock where that is not kept finely.
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
