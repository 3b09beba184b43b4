// The composer's run: the job read and checked, its pages made by the workers
// and savers (the run's state and its canvases), and the summary lines.
#include "driver.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <new>
#include <system_error>

#include "geometry.h"
#include "imaging/pixels/buffer_pool.h"
#include "imaging/system/file_io.h"
#include "job_file/heartbeat_line.h"
#include "korvela_version.h"
#include "log.h"
#include "page.h"
#include "placement.h"
#include "stage_times.h"

namespace sheetsmith {

unsigned WorkerCount(unsigned hardwareThreads) {
  if (hardwareThreads == 0) return 1;
  return hardwareThreads < kMaxWorkers ? hardwareThreads : kMaxWorkers;
}

bool RunWorkers(unsigned count, const std::function<void()>& work,
                const std::function<void()>& onStartFailure, const ThreadStarter& start) {
  std::vector<std::thread> threads;
  bool allStarted = true;
  try {
    threads.reserve(count);
    for (unsigned i = 0; i < count; ++i) threads.push_back(start(work));
  } catch (const std::system_error&) {
    allStarted = false;
  } catch (const std::bad_alloc&) {
    allStarted = false;
  }
  if (!allStarted) onStartFailure();
  for (std::thread& thread : threads) {
    if (thread.joinable()) thread.join();
  }
  return allStarted;
}

namespace {

// Writes the heartbeat (heartbeat_line.h: photos placed, pages saved, the
// photos in hand) every kHeartbeatPeriod from a thread of its own until it
// is destroyed. The workers' own lines come only every tenth photo and per
// page, which can be a long silence; and from what moves between two beats
// the host tells a slow photo from a read that never ends.
class Heartbeat {
 public:
  explicit Heartbeat(RunState& state) : state_(state) {
    try {
      thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
      // Without the thread the run goes on; only the lines are missing.
    }
  }
  ~Heartbeat() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopped_ = true;
    }
    stop_.notify_one();
    if (thread_.joinable()) thread_.join();
  }
  Heartbeat(const Heartbeat&) = delete;
  Heartbeat& operator=(const Heartbeat&) = delete;

 private:
  void Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stop_.wait_for(lock, kHeartbeatPeriod, [this] { return stopped_; })) {
      HeartbeatEntry beat;
      beat.photosPlaced = state_.photosProcessed.load();
      beat.photos = state_.photosToPlace();
      beat.pagesSaved = state_.pagesSaved.load();
      beat.pages = state_.pageCount();
      beat.inHand = state_.PhotosInHand();
      LogLineLocked(state_.logMutex, FormatHeartbeatLine(beat));
    }
  }

  RunState& state_;
  std::mutex mutex_;
  std::condition_variable stop_;
  bool stopped_ = false;
  std::thread thread_;
};

// Threads that decode a HEIF photo's tiles beside its worker: only the
// cores no worker has a photo for, in a job of fewer photos than workers, so
// that the tiles never take a core from the page workers.
// SHEETSMITH_HEIF_THREADS sets the count instead (for measuring).
int HeifDecoderThreads(std::size_t photos, unsigned workers) {
  if (const char* wanted = std::getenv("SHEETSMITH_HEIF_THREADS"); wanted && *wanted) {
    return std::clamp(std::atoi(wanted), 0, 64);
  }
  if (photos == 0 || photos >= workers) return 0;
  return static_cast<int>(workers / photos) - 1;
}

void LogStageTimes() {
  const char* wanted = std::getenv("SHEETSMITH_TIMINGS");
  if (!wanted || !*wanted) return;
  const StageTimes& t = GlobalStageTimes();
  auto ms = [](const std::atomic<std::int64_t>& ns) { return std::to_string(ns.load() / 1000000); };
  LogLine("Sheetsmith: Stage times (all workers): decode=" + ms(t.decodeNs) + "ms turn=" +
          ms(t.turnNs) + "ms resize=" + ms(t.resizeNs) + "ms effects=" + ms(t.effectsNs) +
          "ms color=" + ms(t.colorNs) + "ms encode=" + ms(t.encodeNs) + "ms");
}

}  // namespace

bool CreatePages(const GridConfig& config, const CreatePagesOptions& options) {
  const auto start = std::chrono::steady_clock::now();
  GridGeometry geometry;
  std::string problem;
  if (!ComputeGeometry(config, geometry, problem)) {
    LogLine("Sheetsmith: Invalid grid: " + problem);
    return false;
  }
  // The colours the pages are made in: a custom profile that cannot be used
  // fails the run before any page is begun.
  RunColors colors(ResolveColorTarget(
      ParseColorSelection(config.colorTarget),
      [](const std::string& path) { return ReadFilePrefix(path, kMaxProfileBytes + 1); }));
  if (!colors.target.failure.empty()) {
    LogLine("Sheetsmith: " + colors.target.failure);
    return false;
  }
  const unsigned threads = WorkerCount(options.hardwareThreads);
  LogLine("Sheetsmith: " + std::to_string(config.images.size()) + " images, " +
          std::to_string(config.rows) + "x" + std::to_string(config.cols) + " grid, cell " +
          std::to_string(geometry.cellWidth) + "x" + std::to_string(geometry.cellHeight) +
          ", threads=" + std::to_string(threads));

  SetHeifDecoderThreads(HeifDecoderThreads(config.images.size(), threads));

  // What writers that died left beside these pages goes first.
  RemoveDeadPartials(config.outputs);

  // Large buffers are reused from one photo and page to the next.
  BufferPool pool(BufferPool::kBlocksPerWorker * threads);
  RunState state(config, geometry, options.makeCanvas);
  state.colors = &colors;
  // A canvas for every two workers: the pages being laid and saved keep pace
  // with the photos the others make ready. Each worker may leave one photo
  // waiting for a canvas.
  state.canvasLimit = static_cast<int>(std::max(1u, threads / 2));
  state.photosWaitingLimit = static_cast<int>(threads);
  const int pageCount = state.pageCount();
  state.pool = &pool;
  state.startSaver = options.startSaver;
  auto work = [&state, &pool] {
    const BufferPool::Use usePool(pool);
    RunGuarded(state, [&state] {
      while (!state.abandon.load()) {
        const std::int64_t unit = state.nextUnit.fetch_add(1);
        if (unit >= state.unitCount()) return;
        DoUnit(unit, state);
      }
    });
  };
  bool started = false;
  {
    const Heartbeat heartbeat(state);
    started = RunWorkers(
        threads, work, [&state] { state.abandon.store(true); }, options.startThread);
    state.JoinSaves();
  }
  if (!started) {
    LogLine("Sheetsmith: Failed to start the worker threads");
    return false;
  }
  if (const std::optional<std::string> failure = state.failure()) {
    LogLine("Sheetsmith: " + *failure);
    return false;
  }

  const auto elapsed = std::chrono::steady_clock::now() - start;
  const long long ms =
      std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count() / 1000000;
  LogLine("Sheetsmith: Total time: " + std::to_string(ms) + "ms");
  LogStageTimes();
  // Every page is either saved or counted as failed; one neither is a page
  // lost, and fails the run all the same.
  if (const int failed = pageCount - state.pagesSaved.load(); failed > 0) {
    LogLine("Sheetsmith: Failed to write " + std::to_string(failed) + " of " +
            std::to_string(pageCount) + " pages");
    return false;
  }
  return true;
}

int RunSheetsmith(const std::vector<std::string>& args, const CreatePagesOptions& options) {
  if (args.size() < 2) {
    LogLine("Usage: sheetsmith.exe <config_file>");
    return 1;
  }
  if (args[1] == "--version") {
    std::fputs("sheetsmith " KORVELA_VERSION "\n", stdout);
    std::fflush(stdout);
    return 0;
  }
  try {
    LogLine("Sheetsmith: Starting (stb version)...");
    LogLine("Sheetsmith: Config file: " + args[1]);
    GridConfig config;
    std::vector<std::string> problems;
    if (!ParseConfig(args[1], config, &problems)) {
      LogLine("Sheetsmith: Failed to parse config");
      return 1;
    }
    if (!problems.empty()) {
      LogLine("Sheetsmith: Invalid " + problems.front());
      return 1;
    }
    LogLine("Sheetsmith: Config parsed - " + std::to_string(config.images.size()) + " images, " +
            std::to_string(config.outputs.size()) + " outputs");
    if (!CreatePages(config, options)) return 1;
    std::fputs("OK\n", stdout);
    std::fflush(stdout);
    return 0;
  } catch (const std::bad_alloc&) {
    LogLine("Sheetsmith: Out of memory");
  } catch (const std::exception& error) {
    LogLine(std::string("Sheetsmith: ") + error.what());
  }
  return 1;
}

}  // namespace sheetsmith
