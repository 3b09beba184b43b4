// The composer program: reads the job file named on the command line, renders
// its pages on a pool of worker threads, and reports on the console.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "job_file/grid_config.h"
#include "page.h"

namespace sheetsmith {

inline constexpr unsigned kMaxWorkers = 8;

// While pages are made, a line goes out at least this often: the host stops
// a composer that says nothing for a while, and a photo can take seconds.
inline constexpr std::chrono::milliseconds kHeartbeatPeriod{500};

// Worker count for a machine reporting `hardwareThreads` (0: unknown).
unsigned WorkerCount(unsigned hardwareThreads);

// Starts `count` threads running `work` and joins them in the order started.
// When a thread cannot be started, `onStartFailure` runs first (so running
// workers can be told to stop), the threads already started are joined, and
// the result is false.
bool RunWorkers(unsigned count, const std::function<void()>& work,
                const std::function<void()>& onStartFailure, const ThreadStarter& start);

struct CreatePagesOptions {
  unsigned hardwareThreads = std::thread::hardware_concurrency();
  ThreadStarter startThread = [](std::function<void()> work) {
    return std::thread(std::move(work));
  };
  CanvasMaker makeCanvas = &MakeCanvas;
  // Starts the thread that saves a page beside the workers.
  ThreadStarter startSaver = [](std::function<void()> save) {
    return std::thread(std::move(save));
  };
};

// Renders every page of the job. False, with the reason logged, when the
// settings make no grid, the workers could not all be started, a worker
// failed (out of memory or any exception: the others stop), or any page
// could not be made or written.
bool CreatePages(const GridConfig& config, const CreatePagesOptions& options = {});

// The whole program; `args` are the command line in UTF-8, program name first.
// Returns the exit code.
int RunSheetsmith(const std::vector<std::string>& args, const CreatePagesOptions& options = {});

}  // namespace sheetsmith
