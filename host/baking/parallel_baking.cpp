// The baking pool: workers take photos from a shared counter until none are
// left.
#include "parallel_baking.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <system_error>

#include "bake_geometry.h"
#include "logging.h"

namespace runner {
namespace {

struct BatchContext {
  std::atomic<std::uint64_t> nextIndex{0};
  const std::vector<BakeRequest>& requests;
  std::vector<BakeResult>& results;
  std::string folder;
  std::string profileId;
  int jpegQuality;
  const BakingPlatform& platform;
  // Each worker's system thread id, for the join lines; 0 until recorded.
  std::vector<unsigned long> threadIds;
  std::mutex idsMutex;
  std::condition_variable idRecorded;

  // The id of worker `slot`, once it has run far enough to record it.
  unsigned long WaitForId(std::size_t slot) {
    std::unique_lock<std::mutex> lock(idsMutex);
    idRecorded.wait(lock, [this, slot] { return recorded[slot]; });
    return threadIds[slot];
  }
  void RecordId(std::size_t slot, unsigned long id) {
    {
      std::lock_guard<std::mutex> lock(idsMutex);
      threadIds[slot] = id;
      recorded[slot] = true;
    }
    idRecorded.notify_all();
  }
  std::vector<bool> recorded;
};

void BakeWorker(BatchContext& batch, std::size_t slot) {
  const unsigned long systemId = batch.platform.currentThreadId();
  batch.RecordId(slot, systemId);
  const std::string tid = std::to_string(systemId);
  const std::uint64_t m = batch.requests.size();
  const CountingSlots::Held baking(*batch.platform.threadSlots);
  try {
    while (true) {
      const std::uint64_t i = batch.nextIndex.fetch_add(1);
      if (i >= m) {
        LogError("INFO: Thread " + tid + " exiting normally");
        return;
      }
      const std::string index = std::to_string(i);
      LogError("INFO: Thread " + tid + " baking image " + index + "/" + std::to_string(m));
      BakeResult& result = batch.results[i];
      try {
        const BakeRequest& request = batch.requests[i];
        if (!CanvasSizeIsUsable(request.canvasWidth, request.canvasHeight)) {
          // Nothing to draw on: refused before the photo is decoded.
          LogError("ERROR: Invalid canvas size " + std::to_string(request.canvasWidth) + "x" +
                   std::to_string(request.canvasHeight) + " for image " + index);
          result = BakeResult{"", false, "Failed to render image with effects",
                              static_cast<std::int32_t>(i)};
        } else {
          result = batch.platform.bakeSingleImage(request, static_cast<int>(i), batch.folder,
                                                  batch.profileId, batch.jpegQuality);
        }
        LogError("DEBUG: Worker thread " + tid + " returned from BakeSingleImage for image " +
                 index);
        if (result.success) {
          LogError("INFO: Thread " + tid + " completed image " + index + " successfully");
        } else {
          LogError("ERROR: Thread " + tid + " failed image " + index + ": " + result.error);
        }
      } catch (const std::exception& error) {
        LogError("ERROR: Thread " + tid + " exception in BakeSingleImage for image " + index +
                 ": " + error.what());
        result = BakeResult{"", false, std::string("Thread exception: ") + error.what(),
                            static_cast<std::int32_t>(i)};
      } catch (...) {
        LogError("ERROR: Thread " + tid + " unknown exception in BakeSingleImage for image " +
                 index);
        result = BakeResult{"", false, "Thread unknown exception", static_cast<std::int32_t>(i)};
      }
      LogError("DEBUG: Worker thread " + tid + " finished processing image " + index);
    }
  } catch (const std::exception& error) {
    LogError("FATAL: Thread " + tid + " worker function exception: " + error.what());
  } catch (...) {
    LogError("FATAL: Thread " + tid + " worker function unknown exception");
  }
}

}  // namespace

CountingSlots& BakingThreadSlots() {
  // Never destroyed: a bake abandoned at the end of the process may still
  // hold a slot.
  static CountingSlots* slots =
      new CountingSlots(static_cast<int>(std::max(1u, std::thread::hardware_concurrency())));
  return *slots;
}

std::vector<BakeResult> BakeImagesInParallel(const std::vector<BakeRequest>& requests,
                                             int maxThreads, const std::string& profileId,
                                             int jpegQuality, const BakingPlatform& platform) {
  const std::size_t m = requests.size();
  if (m == 0) return {};
  LogError("INFO: Using color profile: " + profileId);
  const int n = BakeThreadCount(maxThreads, platform.hardwareThreads);
  LogError("INFO: Starting parallel baking with " + std::to_string(n) + " threads for " +
           std::to_string(m) + " images");

  unsigned long ignored = 0;
  platform.createFolder(kHostTempFolderUtf8, &ignored);
  const std::string folder =
      std::string(kHostTempFolderUtf8) + BakingFolderName(platform.localTime());
  unsigned long error = 0;
  if (!platform.createFolder(folder, &error)) {
    LogError("ERROR: Failed to create output directory, error=" + std::to_string(error));
    std::vector<BakeResult> failed(m);
    for (std::size_t i = 0; i < m; ++i) {
      failed[i] =
          BakeResult{"", false, "Failed to create output directory", static_cast<std::int32_t>(i)};
    }
    return failed;
  }
  LogError("INFO: Output directory: " + folder);

  std::vector<BakeResult> results(m);
  const std::size_t t = std::min<std::size_t>(m, static_cast<std::size_t>(n));
  BatchContext batch{{},
                     requests,
                     results,
                     folder,
                     profileId,
                     jpegQuality,
                     platform,
                     std::vector<unsigned long>(t),
                     {},
                     {},
                     std::vector<bool>(t)};
  std::vector<std::thread> threads;
  threads.reserve(t);
  bool allStarted = true;
  for (std::size_t i = 0; i < t; ++i) {
    try {
      threads.push_back(platform.startThread([&batch, i] { BakeWorker(batch, i); }));
    } catch (const std::exception& startError) {
      // std::system_error from the system, or std::bad_alloc for the thread's state.
      LogError(std::string("ERROR: Failed to start baking thread ") + std::to_string(i) + ": " +
               startError.what());
      allStarted = false;
      break;
    }
  }
  if (threads.empty()) {
    // Nobody would take a photo: take them all away from the counter so that
    // the waiting step below ends at once.
    batch.nextIndex.store(m);
  }

  // The joins below are the wait: each returns when its worker has taken
  // its last photo and finished it.
  LogError("INFO: Waiting for " + std::to_string(threads.size()) + " threads to complete...");
  LogError("INFO: All work completed, joining threads...");
  for (std::size_t i = 0; i < threads.size(); ++i) {
    const std::string number = std::to_string(i);
    std::thread& thread = threads[i];
    // A worker records its id first thing, for this line.
    const unsigned long id = batch.WaitForId(i);
    LogError("INFO: Joining thread " + number + " (ID: " + std::to_string(id) + ")...");
    thread.join();
    LogError("INFO: Thread " + number + " joined successfully");
  }
  LogError("INFO: All threads joined");

  if (!allStarted) {
    // Photos that no worker took stay in their initial state; say why.
    for (std::size_t i = 0; i < m; ++i) {
      if (results[i].index < 0 && results[i].error.empty()) {
        results[i] = BakeResult{"", false, "No baking thread could be started for this image",
                                static_cast<std::int32_t>(i)};
      }
    }
  }
  std::size_t successes = 0;
  for (const BakeResult& result : results) successes += result.success ? 1 : 0;
  LogError("INFO: Parallel baking completed: " + std::to_string(successes) + " succeeded, " +
           std::to_string(m - successes) + " failed");
  return results;
}

}  // namespace runner
