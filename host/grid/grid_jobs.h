// The grid requests of the printing channel: compose while the call waits,
// or start a background job that the interface polls.
#pragma once

#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <optional>

#include "grid_request.h"
#include "method_call.h"
#include "method_result.h"

namespace runner::printing {

// Runs one composition to its end: CreateGridImagesWithHelper in the product.
using GridComposition = std::function<GridResult(const GridRequest&)>;

// The composition the handlers use from now on (tests put a fake here). An
// empty function restores the product's.
void SetGridComposition(GridComposition composition);

// The product's composition: the page composer, with the host's own composer
// as the fallback. Defined for the platform the host runs on.
GridResult CreateGridImagesWithHelper(const GridRequest& request);

// One asynchronous job. Shared by the job table and a poll in progress.
struct GridJobState {
  std::future<GridResult> future;
  bool completed = false;
  GridResult result;
};

struct GridJobStatus {
  bool completed = false;
  GridResult result;  // meaningful when completed
};

// Takes the next job id (1 first), stores a new job under it and starts the
// composition on a background task that owns its own copy of the request.
std::int32_t StartGridJob(GridRequest request);

// Nullopt when there is no job with that id. A job is removed by the first
// poll that finds it finished; an exception out of its task reads as a
// failed result with the exception's text.
std::optional<GridJobStatus> PollGridJob(std::int32_t id);

// "createGridImages" and "createGridImagesFast".
void HandleCreateGridImages(const MethodCall& call, std::unique_ptr<MethodResult> result);
// "createGridImagesFastAsync".
void HandleCreateGridImagesFastAsync(const MethodCall& call, std::unique_ptr<MethodResult> result);
// "checkGridJobStatus".
void HandleCheckGridJobStatus(const MethodCall& call, std::unique_ptr<MethodResult> result);

}  // namespace runner::printing
