// Time spent in each stage of composing, summed over all workers (and the
// page writer's helper threads), on the stage clock. The composer prints
// these only when SHEETSMITH_TIMINGS is set, for benchmarks.
#pragma once

#include <atomic>
#include <cstdint>

#include "imaging/system/stage_clock.h"

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

}  // namespace sheetsmith
