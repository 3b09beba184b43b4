// The face-detection worker threads: one per call, detached, answering
// through the face-results window message, and counted among the workers at
// work (long_calls.h) until they end.
#pragma once

#include <memory>

#include "analysis_handlers.h"

namespace runner {

// Starts a worker for the job and takes it; false, leaving the job with the
// caller, when no thread could be started.
bool StartFaceWorker(std::unique_ptr<FaceDetectionJob>& job);

// Writes a line to the debugger output.
void WriteDebuggerLine(const std::string& line);

}  // namespace runner
