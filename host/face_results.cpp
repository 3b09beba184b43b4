#include "face_results.h"

#include <mutex>
#include <set>

namespace runner {
namespace {

class HandedOutRecords {
 public:
  static HandedOutRecords& Get() {
    static HandedOutRecords records;
    return records;
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

std::intptr_t AnswerFaceResults(std::intptr_t lParam) {
  if (lParam == 0) return 0;
  std::unique_ptr<FaceResultsRecord> record = HandedOutRecords::Get().Take(lParam);
  if (!record) return 0;
  try {
    if (record->result) record->result->Success(record->value);
  } catch (...) {
    // Nothing can be answered any more; the record still goes.
  }
  return 0;
}

std::size_t OutstandingFaceResults() { return HandedOutRecords::Get().size(); }

}  // namespace runner
