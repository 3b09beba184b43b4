// The face-results window message: how a face-detection worker hands its
// answer back to the platform thread. The worker hands its heap record out
// with HandOutFaceResults and posts the message with the address it gets;
// from the moment of the post the record belongs to the window, which answers
// the call with the record's value and frees it.
//
// Any program on the desktop can post the message with any value, so the
// window takes only an address that a worker handed out and has not been
// answered yet; every other value is ignored.
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

// Registers the record as handed out and returns the address to post.
std::intptr_t HandOutFaceResults(std::unique_ptr<FaceResultsRecord> record);

// Takes a handed-out record back (for a worker whose post failed); null when
// the address is not a handed-out record, or the window has taken it.
std::unique_ptr<FaceResultsRecord> TakeBackFaceResults(std::intptr_t address);

// Answers and frees the handed-out record at `lParam`; any other value,
// 0 among them, does nothing. Returns the window procedure's result, 0. An
// exception out of the answer is swallowed: the record is freed all the same.
std::intptr_t AnswerFaceResults(std::intptr_t lParam);

// Records handed out and not yet taken (by the window or back).
std::size_t OutstandingFaceResults();

// Answers and frees every record still handed out: for the end of the
// process, when the window will take no more.
void AnswerOutstandingFaceResults();

}  // namespace runner
