// A batch of photos baked by a small pool of worker threads that take the
// next photo from a shared counter. The platform's part (making the folder,
// the clock, baking one photo) comes through BakingPlatform, so the pool's
// rules are the same everywhere.
#pragma once

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "bake_request.h"
#include "bake_rules.h"
#include "counting_slots.h"

namespace runner {

// The process's baking threads: as many as the hardware has.
CountingSlots& BakingThreadSlots();

struct BakingPlatform {
  // Creates a folder; false with the system's error number when that fails
  // for another reason than that it exists.
  std::function<bool(const std::string& path, unsigned long* error)> createFolder;
  std::function<LocalTime()> localTime;
  std::function<BakeResult(const BakeRequest& request, int index, const std::string& folder,
                           const std::string& profileId, int jpegQuality)>
      bakeSingleImage;
  std::function<unsigned long()> currentThreadId;
  unsigned hardwareThreads = std::thread::hardware_concurrency();
  std::function<std::thread(std::function<void()>)> startThread = [](std::function<void()> work) {
    return std::thread(std::move(work));
  };
  // Bakes may overlap; their threads together bake no more photos at once
  // than the hardware has threads: each worker holds one of these slots
  // while it bakes.
  CountingSlots* threadSlots = &BakingThreadSlots();
};

// One result per request, in request order. Never leaves a worker running:
// when a thread cannot be started, the ones that did are joined, and the
// photos no worker took are reported failed.
std::vector<BakeResult> BakeImagesInParallel(const std::vector<BakeRequest>& requests,
                                             int maxThreads, const std::string& profileId,
                                             int jpegQuality, const BakingPlatform& platform);

}  // namespace runner
