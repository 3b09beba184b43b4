// Long calls' lanes and their answers posted back to the window.
#include "long_calls.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <string>
#include <thread>

#include "face_results.h"
#include "handed_out.h"
#include "logging.h"

namespace runner {
namespace {

struct LongCallRecord {
  std::unique_ptr<MethodResult> result;
  Answer answer;
};
using Records = HandedOut<LongCallRecord>;

// Made once and never destroyed, like everything a worker may still touch
// while the process ends.
struct Shared {
  std::mutex mutex;
  std::condition_variable workersChanged;
  int workers = 0;
  AnswerPoster poster;
};
Shared& State() {
  static Shared* state = new Shared;
  return *state;
}

void Apply(std::unique_ptr<LongCallRecord> record) {
  try {
    record->answer(*record->result);
  } catch (...) {
    // Nothing can be answered any more; the record still goes.
  }
}

Answer DoWork(const LongWork& work) {
  std::string failure;
  try {
    if (Answer answer = work()) return answer;
    failure = "No answer";
  } catch (const std::exception& exception) {
    failure = exception.what();
  } catch (...) {
    failure = "Unknown exception";
  }
  LogError("ERROR: Exception on channel printing_channel: " + failure);
  return [failure](MethodResult& result) { result.Error("INTERNAL_ERROR", failure); };
}

// One call's work and its answer, handed to the platform thread.
struct PendingCall {
  std::unique_ptr<MethodResult> result;
  LongWork work;
  AnswerPoster poster;

  void Run() {
    auto record = std::make_unique<LongCallRecord>();
    record->answer = DoWork(work);
    record->result = std::move(result);
    const std::intptr_t address = Records::Get().Add(std::move(record));
    if (!poster(address)) {
      // No window to take it (it is closing): answered here, which an engine
      // that is gone drops.
      if (std::unique_ptr<LongCallRecord> back = Records::Get().Take(address)) {
        Apply(std::move(back));
      }
    }
  }
};

// The print queue: one thread, started on first use and never ended, taking
// jobs in the order they came.
class SerialQueue {
 public:
  static SerialQueue& Get() {
    static SerialQueue* queue = new SerialQueue;
    return *queue;
  }

  // False when the queue's thread cannot be started.
  bool Push(std::function<void()> job) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!started_) {
      try {
        std::thread([this] { Serve(); }).detach();
      } catch (const std::exception&) {
        return false;
      }
      started_ = true;
    }
    jobs_.push_back(std::move(job));
    changed_.notify_one();
    return true;
  }

 private:
  void Serve() {
    while (true) {
      std::function<void()> job;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return !jobs_.empty(); });
        job = std::move(jobs_.front());
        jobs_.pop_front();
      }
      job();
    }
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::function<void()>> jobs_;
  bool started_ = false;
};

}  // namespace

void SetAnswerPoster(AnswerPoster poster) {
  std::lock_guard<std::mutex> lock(State().mutex);
  State().poster = std::move(poster);
}

void RunLongCall(std::unique_ptr<MethodResult> result, LongCallLane lane, LongWork work) {
  AnswerPoster poster;
  {
    std::lock_guard<std::mutex> lock(State().mutex);
    poster = State().poster;
  }
  if (!poster) {
    DoWork(work)(*result);
    return;
  }
  auto pending = std::make_shared<PendingCall>(
      PendingCall{std::move(result), std::move(work), std::move(poster)});
  auto job = [pending] {
    pending->Run();
    WorkerEnded();
  };
  WorkerStarted();
  bool handed = false;
  if (lane == LongCallLane::kPrintQueue) {
    handed = SerialQueue::Get().Push(job);
  } else {
    try {
      std::thread(job).detach();
      handed = true;
    } catch (const std::exception&) {
    }
  }
  if (!handed) {
    // No thread for it: the work is done here, as it was before it had one.
    WorkerEnded();
    DoWork(pending->work)(*pending->result);
  }
}

std::intptr_t AnswerLongCall(std::intptr_t lParam) {
  if (lParam == 0) return 0;
  if (std::unique_ptr<LongCallRecord> record = Records::Get().Take(lParam)) {
    Apply(std::move(record));
  }
  return 0;
}

void WorkerStarted() {
  std::lock_guard<std::mutex> lock(State().mutex);
  ++State().workers;
}

void WorkerEnded() {
  std::lock_guard<std::mutex> lock(State().mutex);
  --State().workers;
  State().workersChanged.notify_all();
}

int WorkersAtWork() {
  std::lock_guard<std::mutex> lock(State().mutex);
  return State().workers;
}

int FinishWorkers(std::chrono::milliseconds limit) {
  Shared& state = State();
  int left = 0;
  {
    std::unique_lock<std::mutex> lock(state.mutex);
    if (state.workers > 0) {
      LogError("INFO: Waiting for " + std::to_string(state.workers) + " call(s) still at work");
    }
    state.workersChanged.wait_for(lock, limit, [&state] { return state.workers == 0; });
    left = state.workers;
  }
  AnswerOutstandingFaceResults();
  while (std::unique_ptr<LongCallRecord> record = Records::Get().TakeAny()) {
    Apply(std::move(record));
  }
  return left;
}

}  // namespace runner
