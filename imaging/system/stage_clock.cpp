// The stage clock: the thread's processor time where POSIX keeps it.
#include "imaging/system/stage_clock.h"

#include <chrono>

#if !defined(_WIN32)
#include <time.h>
#endif

namespace sheetsmith {

std::int64_t StageClockNs() {
#if !defined(_WIN32) && defined(CLOCK_THREAD_CPUTIME_ID)
  timespec now{};
  if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now) == 0) {
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
  }
#endif
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace sheetsmith
