#include "face_results.h"

#include <mutex>
#include <set>

namespace runner {
namespace {

class HandedOutRecords {
 public:
  // Made once and never destroyed: a worker may hand back a record while
  // the process ends.
  static HandedOutRecords& Get() {
    static HandedOutRecords* records = new HandedOutRecords;
    return *records;
  }

  std::intptr_t Add(std::unique_ptr<FaceResultsRecord> record) {
    std::lock_guard<std::mutex> guard(mutex_);
    FaceResultsRecord* raw = record.release();
    addresses_.insert(raw);
    return reinterpret_cast<std::intptr_t>(raw);
  }

  std::unique_ptr<FaceResultsRecord> Take(std::intptr_t address) {
    std::lock_guard<std::mutex> guard(mutex_);
    // Compared as addresses only: an unknown value is never dereferenced.
    const auto found = addresses_.find(reinterpret_cast<FaceResultsRecord*>(address));
    if (found == addresses_.end()) return nullptr;
    std::unique_ptr<FaceResultsRecord> record(*found);
    addresses_.erase(found);
    return record;
  }

  std::unique_ptr<FaceResultsRecord> TakeAny() {
    std::lock_guard<std::mutex> guard(mutex_);
    if (addresses_.empty()) return nullptr;
    std::unique_ptr<FaceResultsRecord> record(*addresses_.begin());
    addresses_.erase(addresses_.begin());
    return record;
  }

  std::size_t size() {
    std::lock_guard<std::mutex> guard(mutex_);
    return addresses_.size();
  }

 private:
  std::mutex mutex_;
  std::set<FaceResultsRecord*> addresses_;
};

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
