// The run's stage times: one set for the process.
#include "stage_times.h"

namespace sheetsmith {

StageTimes& GlobalStageTimes() {
  static StageTimes times;
  return times;
}

}  // namespace sheetsmith
