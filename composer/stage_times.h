// Time spent in each stage of composing, summed over all workers. The
// composer prints these only when SHEETSMITH_TIMINGS is set, for benchmarks.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

namespace sheetsmith {

struct StageTimes {
  std::atomic<std::int64_t> decodeNs{0};
  std::atomic<std::int64_t> turnNs{0};
  std::atomic<std::int64_t> resizeNs{0};
  std::atomic<std::int64_t> effectsNs{0};
  std::atomic<std::int64_t> encodeNs{0};
};

StageTimes& GlobalStageTimes();

// Adds the time from construction to destruction to one counter.
class StageTimer {
 public:
  explicit StageTimer(std::atomic<std::int64_t>& counter)
      : counter_(counter), start_(std::chrono::steady_clock::now()) {}
  ~StageTimer() {
    const auto elapsed = std::chrono::steady_clock::now() - start_;
    counter_.fetch_add(std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count(),
                       std::memory_order_relaxed);
  }
  StageTimer(const StageTimer&) = delete;
  StageTimer& operator=(const StageTimer&) = delete;

 private:
  std::atomic<std::int64_t>& counter_;
  std::chrono::steady_clock::time_point start_;
};

}  // namespace sheetsmith
