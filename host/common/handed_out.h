// Records handed from a worker thread to the platform thread through a window
// message: the worker registers the record and posts its address; the window
// takes back only an address that was handed out and not yet taken, so a
// value posted by anyone else (any program can post any message to the
// window) is never dereferenced.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <set>

namespace runner {

template <typename Record>
class HandedOut {
 public:
  // Made once and never destroyed: a worker may hand a record back while the
  // process ends.
  static HandedOut& Get() {
    static HandedOut* records = new HandedOut;
    return *records;
  }

  // Registers the record and returns the address to post.
  std::intptr_t Add(std::unique_ptr<Record> record) {
    std::lock_guard<std::mutex> guard(mutex_);
    Record* raw = record.release();
    addresses_.insert(raw);
    return reinterpret_cast<std::intptr_t>(raw);
  }

  // The record at `address`, or null when it is not one handed out (any
  // more). Compared as addresses only.
  std::unique_ptr<Record> Take(std::intptr_t address) {
    std::lock_guard<std::mutex> guard(mutex_);
    const auto found = addresses_.find(reinterpret_cast<Record*>(address));
    if (found == addresses_.end()) return nullptr;
    std::unique_ptr<Record> record(*found);
    addresses_.erase(found);
    return record;
  }

  // Any record still handed out, or null.
  std::unique_ptr<Record> TakeAny() {
    std::lock_guard<std::mutex> guard(mutex_);
    if (addresses_.empty()) return nullptr;
    std::unique_ptr<Record> record(*addresses_.begin());
    addresses_.erase(addresses_.begin());
    return record;
  }

  std::size_t size() {
    std::lock_guard<std::mutex> guard(mutex_);
    return addresses_.size();
  }

 private:
  HandedOut() = default;
  std::mutex mutex_;
  std::set<Record*> addresses_;
};

}  // namespace runner
