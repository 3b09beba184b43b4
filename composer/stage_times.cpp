#include "stage_times.h"

namespace sheetsmith {

StageTimes& GlobalStageTimes() {
  static StageTimes times;
  return times;
}

}  // namespace sheetsmith
