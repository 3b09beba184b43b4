// Face results handed out to the window and taken back by their address, each
// once.
#include "face_results.h"

#include "handed_out.h"

namespace runner {
namespace {

using HandedOutRecords = HandedOut<FaceResultsRecord>;

}  // namespace

std::intptr_t HandOutFaceResults(std::unique_ptr<FaceResultsRecord> record) {
  return HandedOutRecords::Get().Add(std::move(record));
}

std::unique_ptr<FaceResultsRecord> TakeBackFaceResults(std::intptr_t address) {
  return HandedOutRecords::Get().Take(address);
}

namespace {

void Answer(std::unique_ptr<FaceResultsRecord> record) {
  try {
    if (record->result) record->result->Success(record->value);
  } catch (...) {
    // Nothing can be answered any more; the record still goes.
  }
}

}  // namespace

std::intptr_t AnswerFaceResults(std::intptr_t lParam) {
  if (lParam == 0) return 0;
  if (std::unique_ptr<FaceResultsRecord> record = HandedOutRecords::Get().Take(lParam)) {
    Answer(std::move(record));
  }
  return 0;
}

void AnswerOutstandingFaceResults() {
  while (std::unique_ptr<FaceResultsRecord> record = HandedOutRecords::Get().TakeAny()) {
    Answer(std::move(record));
  }
}

std::size_t OutstandingFaceResults() { return HandedOutRecords::Get().size(); }

}  // namespace runner
