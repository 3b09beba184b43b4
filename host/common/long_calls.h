// Calls whose work takes long: their work runs off the platform thread and
// their answer goes back to it, so that the platform thread stays free.
// With Dart on the platform thread (the default of recent engines) a handler
// that holds it freezes the whole interface; even without, the window stops
// taking its messages and cannot be moved, and Windows marks it not
// responding.
//
// A long call's handler reads and checks its arguments on the platform
// thread, answering what is wrong at once, and hands the rest to
// RunLongCall: the work runs on its lane and returns how to answer, which is
// applied to the call's result on the platform thread, through a record
// posted to the window (kLongCallAnswerMessage), as face results are.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

#include "method_result.h"

namespace runner {

inline constexpr unsigned kLongCallAnswerMessage = 0x8002;  // WM_APP + 2

// How a long call answers: decided by its work, applied on the platform thread.
using Answer = std::function<void(MethodResult& result)>;
using LongWork = std::function<Answer()>;

enum class LongCallLane {
  kOwnThread,   // a thread of its own, started at once
  kPrintQueue,  // one at a time, in the order the calls came: print jobs,
                // shell launches and printer settings never overlap
};

// Posts a record's address to the platform thread; false when it cannot.
// The window installs one for its life. Without one (before the window, or
// in tests of the handlers) a long call runs where it is called and answers
// at once.
using AnswerPoster = std::function<bool(std::intptr_t record)>;
void SetAnswerPoster(AnswerPoster poster);

// Runs `work` on its lane and answers `result` with what it returns, on the
// platform thread. An exception out of the work is answered "INTERNAL_ERROR"
// with its text, as the printing channel answers one out of a handler.
void RunLongCall(std::unique_ptr<MethodResult> result, LongCallLane lane, LongWork work);

// The window's handling of kLongCallAnswerMessage: answers and frees the
// handed-out record at `lParam`; any other value does nothing. Returns 0.
std::intptr_t AnswerLongCall(std::intptr_t lParam);

// Threads doing a call's work that have not ended: long calls and face
// detection. Each worker is counted from before it starts to after its last
// touch of anything shared.
void WorkerStarted();
void WorkerEnded();
int WorkersAtWork();

// For the end of the process, after the window is gone: waits up to `limit`
// for the workers still at work (saying so), then answers every record the
// window never took (an answer for an engine that is gone is dropped) and
// frees it. Returns how many workers are still at work: the process must
// then end without running the destructors of what they use.
int FinishWorkers(std::chrono::milliseconds limit);

}  // namespace runner
