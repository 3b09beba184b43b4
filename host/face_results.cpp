#include "face_results.h"

namespace runner {

std::intptr_t AnswerFaceResults(std::intptr_t lParam) {
  if (lParam == 0) return 0;
  std::unique_ptr<FaceResultsRecord> record(reinterpret_cast<FaceResultsRecord*>(lParam));
  try {
    if (record->result) record->result->Success(record->value);
  } catch (...) {
    // Nothing can be answered any more; the record still goes.
  }
  return 0;
}

}  // namespace runner
