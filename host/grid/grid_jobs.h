// The grid requests of the printing channel: compose while the call waits,
// or start a background job that the interface polls.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "composer_run.h"
#include "grid_request.h"
#include "method_call.h"
#include "method_result.h"

namespace runner::printing {

// Runs one composition to its end, counting what it has done into the
// progress: CreateGridImagesWithHelper in the product.
using GridComposition = std::function<GridResult(const GridRequest&, GridProgress&)>;

// The composition the handlers use from now on (tests put a fake here). An
// empty function restores the product's.
void SetGridComposition(GridComposition composition);

// The product's composition: the page composer, with the host's own composer
// as the fallback. Defined for the platform the host runs on.
GridResult CreateGridImagesWithHelper(const GridRequest& request, GridProgress& progress);

// Background jobs composing at once; a job beyond them waits in its own
// thread for one to end. Each composer uses up to eight threads and a few
// hundred megabytes, and the host's own composer, when a job falls back to
// it, runs within the same count. A waiting request never waits for these.
inline constexpr int kMaxConcurrentComposers = 2;

// One asynchronous job. Shared by the job table and its background task;
// its fields change only under the table's lock.
struct GridJobState {
  bool completed = false;
  GridResult result;
  std::chrono::steady_clock::time_point completedAt;
  GridProgress progress;  // written by the task, read by polls
};

// A finished job that nobody polls for this long is forgotten.
inline constexpr std::chrono::minutes kUnpolledJobLifetime{10};

struct GridJobStatus {
  bool completed = false;
  GridResult result;              // meaningful when completed
  GridProgress::Counts progress;  // meaningful while running
};

// Takes the next job id (1 first), stores a new job under it and starts the
// composition on a background thread that owns its own copy of the request.
// The thread is detached: nothing waits for it, and a host that ends while
// it runs abandons it. Throws when the thread cannot be started (no job is
// left behind then).
std::int32_t StartGridJob(GridRequest request);

// Nullopt when there is no job with that id. A job is removed by the first
// poll that finds it finished, or, unpolled, kUnpolledJobLifetime after it
// finished; an exception out of its task reads as a failed result with the
// exception's text.
std::optional<GridJobStatus> PollGridJob(std::int32_t id);

// Jobs whose task has not finished yet.
int RunningGridJobs();

// The clock the job table reads (tests put a fake here); an empty function
// restores the steady clock.
void SetGridJobClock(std::function<std::chrono::steady_clock::time_point()> clock);

// "createGridImages" and "createGridImagesFast".
void HandleCreateGridImages(const MethodCall& call, std::unique_ptr<MethodResult> result);
// "createGridImagesFastAsync".
void HandleCreateGridImagesFastAsync(const MethodCall& call, std::unique_ptr<MethodResult> result);
// "checkGridJobStatus".
void HandleCheckGridJobStatus(const MethodCall& call, std::unique_ptr<MethodResult> result);

}  // namespace runner::printing
