// The face-detection worker threads: one per call, detached, answering
// through the face-results window message.
#pragma once

#include <chrono>
#include <memory>

#include "analysis_handlers.h"

namespace runner {

// Starts a worker for the job and takes it; false, leaving the job with the
// caller, when no thread could be started.
bool StartFaceWorker(std::unique_ptr<FaceDetectionJob>& job);

// After the message loop: waits at most `limit` for workers still running,
// then answers and frees every record they posted that the window never
// took. True when no worker is left running.
bool FinishFaceWorkers(std::chrono::milliseconds limit);

// Writes a line to the debugger output.
void WriteDebuggerLine(const std::string& line);

}  // namespace runner
