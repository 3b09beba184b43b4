// Grid requests waited for or run as background jobs, and the jobs' polls.
#include "grid_jobs.h"

#include <atomic>
#include <chrono>
#include <exception>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "color_profiles.h"
#include "counting_slots.h"
#include "grid_arguments.h"
#include "logging.h"
#include "long_calls.h"
#include "page_queue.h"

namespace runner::printing {
namespace {

// Like the job table, never destroyed: an abandoned task may still read them.
std::mutex& CompositionMutex() {
  static std::mutex* mutex = new std::mutex;
  return *mutex;
}

GridComposition& CompositionSlot() {
  static GridComposition* composition = new GridComposition;
  return *composition;
}

GridResult Compose(const GridRequest& request, GridProgress& progress) {
  GridComposition composition;
  {
    std::lock_guard<std::mutex> lock(CompositionMutex());
    composition = CompositionSlot();
  }
  GridResult result = composition ? composition(request, progress)
                                   : CreateGridImagesWithHelper(request, progress);
  // An empty path is a cell left empty on purpose, not a photo.
  result.unreadablePhotos.clear();
  for (const std::size_t index : progress.UnreadablePhotos()) {
    if (index < request.imagePaths.size() && !request.imagePaths[index].empty()) {
      result.unreadablePhotos.push_back(index);
    }
  }
  if (!result.unreadablePhotos.empty()) {
    std::string named;
    for (const std::size_t index : result.unreadablePhotos) {
      named += (named.empty() ? "" : "; ") + std::to_string(index) + " " + request.imagePaths[index];
    }
    LogError("INFO: Photos that could not be read, left white: " + named);
  }
  return result;
}

// The background jobs' slots; never destroyed, like the job table.
CountingSlots& BackgroundSlots() {
  static CountingSlots* slots = new CountingSlots(kMaxConcurrentComposers);
  return *slots;
}

std::atomic<std::int32_t> nextJobId{1};

using Clock = std::chrono::steady_clock;

struct JobTable {
  std::mutex mutex;
  std::unordered_map<std::int32_t, std::shared_ptr<GridJobState>> jobs;
  std::function<Clock::time_point()> clock;  // empty: the steady clock

  Clock::time_point Now() const { return clock ? clock() : Clock::now(); }

  // Forgets finished jobs that nobody polled in time. Called under the lock.
  void DropUnpolled() {
    const Clock::time_point now = Now();
    for (auto job = jobs.begin(); job != jobs.end();) {
      const GridJobState& state = *job->second;
      if (state.completed && now - state.completedAt >= kUnpolledJobLifetime) {
        job = jobs.erase(job);
      } else {
        ++job;
      }
    }
  }
};

// Made once and never destroyed: background tasks that outlive the window
// still report into it while the process ends.
JobTable& Jobs() {
  static JobTable* table = new JobTable;
  return *table;
}

// The composition's result; an exception out of it becomes a failed result.
GridResult ComposeCatching(const GridRequest& request, GridProgress& progress) {
  try {
    return Compose(request, progress);
  } catch (const std::exception& error) {
    GridResult failed;
    failed.errorMessage = error.what();
    return failed;
  } catch (...) {
    GridResult failed;
    failed.errorMessage = "Grid job failed";
    return failed;
  }
}

}  // namespace

void SetGridComposition(GridComposition composition) {
  std::lock_guard<std::mutex> lock(CompositionMutex());
  CompositionSlot() = std::move(composition);
}

void SetGridJobClock(std::function<Clock::time_point()> clock) {
  JobTable& table = Jobs();
  std::lock_guard<std::mutex> lock(table.mutex);
  table.clock = std::move(clock);
}

std::int32_t StartGridJob(GridRequest request) {
  const std::int32_t id = nextJobId.fetch_add(1);
  auto state = std::make_shared<GridJobState>();
  state->progress.SetTotals(PhotosPlaced(request),
                            static_cast<std::int32_t>(request.outputPaths.size()));
  JobTable& table = Jobs();
  {
    std::lock_guard<std::mutex> lock(table.mutex);
    table.DropUnpolled();
    table.jobs[id] = state;
  }
  // Its place among the requests for the same pages is taken now, in the
  // order the requests came; the task waits for its turn before it takes a
  // composer's slot, so a job waiting for its pages holds none.
  auto place = std::make_shared<PageQueue::Place>(GridPageQueue().Enter(request.outputPaths));
  try {
    std::thread([state, place, request = std::move(request)] {
      place->WaitForTurn();
      GridResult result;
      {
        const CountingSlots::Held slot(BackgroundSlots());
        result = ComposeCatching(request, state->progress);
      }
      place->Leave();
      JobTable& jobs = Jobs();
      std::lock_guard<std::mutex> lock(jobs.mutex);
      state->result = std::move(result);
      state->completed = true;
      state->completedAt = jobs.Now();
    }).detach();
  } catch (...) {
    std::lock_guard<std::mutex> lock(table.mutex);
    table.jobs.erase(id);
    throw;
  }
  return id;
}

std::optional<GridJobStatus> PollGridJob(std::int32_t id) {
  JobTable& table = Jobs();
  std::lock_guard<std::mutex> lock(table.mutex);
  table.DropUnpolled();
  const auto found = table.jobs.find(id);
  if (found == table.jobs.end()) return std::nullopt;
  GridJobStatus status{found->second->completed, found->second->result,
                       found->second->progress.Read()};
  if (status.completed) table.jobs.erase(found);
  return status;
}

int RunningGridJobs() {
  JobTable& table = Jobs();
  std::lock_guard<std::mutex> lock(table.mutex);
  int running = 0;
  for (const auto& [id, state] : table.jobs) running += state->completed ? 0 : 1;
  return running;
}

void HandleCreateGridImages(const MethodCall& call, std::unique_ptr<MethodResult> result) {
  GridRequest request;
  if (const auto error = ParseGridRequest(call.arguments(), GridMethod::kWaiting, request)) {
    result->Error("INVALID_ARGUMENTS", error->message);
    return;
  }
  // The waiting methods never pass an aspect ratio.
  request.magnetAspectRatio = 0.0;
  // The pages are made in the colours chosen when the request came.
  request.colorSelection = ReadSelectedColorProfile();
  // The call waits for its pages, after any request before it for the same
  // pages (never for the background jobs' slots); the platform thread waits
  // for neither.
  auto place = std::make_shared<PageQueue::Place>(GridPageQueue().Enter(request.outputPaths));
  RunLongCall(std::move(result), LongCallLane::kOwnThread,
              [place, request = std::move(request)]() -> Answer {
                GridProgress progress;  // nobody polls a waiting request
                GridResult outcome;
                {
                  // Left when the pages are done, however the composition ends.
                  PageQueue::Place mine = std::move(*place);
                  mine.WaitForTurn();
                  outcome = Compose(request, progress);
                }
                if (outcome.success) {
                  return [](MethodResult& answer) { answer.Success(EncodableValue(true)); };
                }
                return [message = outcome.errorMessage](MethodResult& answer) {
                  answer.Error("GRID_ERROR", message);
                };
              });
}

void HandleCreateGridImagesFastAsync(const MethodCall& call, std::unique_ptr<MethodResult> result) {
  GridRequest request;
  if (const auto error = ParseGridRequest(call.arguments(), GridMethod::kAsync, request)) {
    result->Error("INVALID_ARGUMENTS", error->message);
    return;
  }
  request.colorSelection = ReadSelectedColorProfile();
  std::int32_t id = 0;
  try {
    id = StartGridJob(std::move(request));
  } catch (const std::exception& error) {
    // A background task that cannot be started.
    result->Error("GRID_ERROR", error.what());
    return;
  }
  result->Success(EncodableValue(id));
}

void HandleCheckGridJobStatus(const MethodCall& call, std::unique_ptr<MethodResult> result) {
  const auto* id = call.arguments()->GetIf<std::int32_t>();
  if (!id) {
    result->Error("INVALID_ARGUMENTS", "Expected job ID as integer");
    return;
  }
  const std::optional<GridJobStatus> status = PollGridJob(*id);
  if (!status) {
    result->Error("JOB_NOT_FOUND", "Job ID not found: " + std::to_string(*id));
    return;
  }
  EncodableMap answer{{EncodableValue("completed"), EncodableValue(status->completed)}};
  if (status->completed) {
    answer[EncodableValue("success")] = EncodableValue(status->result.success);
    answer[EncodableValue("errorMessage")] = EncodableValue(status->result.errorMessage);
    answer[EncodableValue("totalTimeMs")] = EncodableValue(status->result.totalTimeMs);
    EncodableList unreadable;
    for (const std::size_t index : status->result.unreadablePhotos) {
      unreadable.emplace_back(static_cast<std::int32_t>(index));
    }
    answer[EncodableValue("unreadablePhotos")] = EncodableValue(std::move(unreadable));
  } else {
    // How far the job is, for a progress bar.
    const GridProgress::Counts& done = status->progress;
    answer[EncodableValue("photosDone")] = EncodableValue(done.photosDone);
    answer[EncodableValue("photosTotal")] = EncodableValue(done.photosTotal);
    answer[EncodableValue("pagesDone")] = EncodableValue(done.pagesDone);
    answer[EncodableValue("pagesTotal")] = EncodableValue(done.pagesTotal);
  }
  result->Success(EncodableValue(std::move(answer)));
}

}  // namespace runner::printing
