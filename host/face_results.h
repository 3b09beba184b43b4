// The face-results window message: how a face-detection worker hands its
// answer back to the platform thread. The worker posts the message with the
// address of a heap record; from the moment of the post the record belongs to
// the window, which answers the call with the record's value and frees it.
#pragma once

#include <cstdint>
#include <memory>

#include "encodable_value.h"
#include "method_result.h"

namespace runner {

inline constexpr unsigned kFaceResultsMessage = 0x8001;  // WM_APP + 1

struct FaceResultsRecord {
  std::unique_ptr<MethodResult> result;
  EncodableValue value;  // a list
};

// Answers and frees the record at `lParam` (a FaceResultsRecord*); 0 does
// nothing. Returns the window procedure's result, 0. An exception out of the
// answer is swallowed: the record is freed all the same.
std::intptr_t AnswerFaceResults(std::intptr_t lParam);

}  // namespace runner
