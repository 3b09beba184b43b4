#include "grid_jobs.h"

#include <atomic>
#include <chrono>
#include <exception>
#include <mutex>
#include <unordered_map>

#include "grid_arguments.h"

namespace runner::printing {
namespace {

std::mutex& CompositionMutex() {
  static std::mutex mutex;
  return mutex;
}

GridComposition& CompositionSlot() {
  static GridComposition composition;
  return composition;
}

GridResult Compose(const GridRequest& request) {
  GridComposition composition;
  {
    std::lock_guard<std::mutex> lock(CompositionMutex());
    composition = CompositionSlot();
  }
  return composition ? composition(request) : CreateGridImagesWithHelper(request);
}

std::atomic<std::int32_t> nextJobId{1};

struct JobTable {
  std::mutex mutex;
  std::unordered_map<std::int32_t, std::shared_ptr<GridJobState>> jobs;
};

JobTable& Jobs() {
  static JobTable table;
  return table;
}

// The task's result; an exception out of it becomes a failed result.
GridResult TakeResult(std::future<GridResult>& future) {
  try {
    return future.get();
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

std::int32_t StartGridJob(GridRequest request) {
  const std::int32_t id = nextJobId.fetch_add(1);
  auto state = std::make_shared<GridJobState>();
  state->future =
      std::async(std::launch::async, [request = std::move(request)] { return Compose(request); });
  JobTable& table = Jobs();
  std::lock_guard<std::mutex> lock(table.mutex);
  table.jobs[id] = std::move(state);
  return id;
}

std::optional<GridJobStatus> PollGridJob(std::int32_t id) {
  JobTable& table = Jobs();
  std::shared_ptr<GridJobState> state;
  {
    std::lock_guard<std::mutex> lock(table.mutex);
    const auto found = table.jobs.find(id);
    if (found == table.jobs.end()) return std::nullopt;
    state = found->second;
  }
  if (!state->completed &&
      state->future.wait_for(std::chrono::seconds(0)) == std::future_status::ready) {
    state->result = TakeResult(state->future);
    state->completed = true;
  }
  GridJobStatus status{state->completed, state->result};
  if (status.completed) {
    std::lock_guard<std::mutex> lock(table.mutex);
    table.jobs.erase(id);
  }
  return status;
}

void HandleCreateGridImages(const MethodCall& call, std::unique_ptr<MethodResult> result) {
  GridRequest request;
  if (const auto error = ParseGridRequest(call.arguments(), GridMethod::kWaiting, request)) {
    result->Error("INVALID_ARGUMENTS", error->message);
    return;
  }
  // The waiting methods never pass an aspect ratio.
  request.magnetAspectRatio = 0.0;
  const GridResult outcome = Compose(request);
  if (outcome.success) {
    result->Success(EncodableValue(true));
  } else {
    result->Error("GRID_ERROR", outcome.errorMessage);
  }
}

void HandleCreateGridImagesFastAsync(const MethodCall& call, std::unique_ptr<MethodResult> result) {
  GridRequest request;
  if (const auto error = ParseGridRequest(call.arguments(), GridMethod::kAsync, request)) {
    result->Error("INVALID_ARGUMENTS", error->message);
    return;
  }
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
  }
  result->Success(EncodableValue(std::move(answer)));
}

}  // namespace runner::printing
