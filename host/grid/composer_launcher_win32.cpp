// The page composer program started for a grid request, watched while it
// runs, and the host's own composer where it cannot be.
#include <chrono>
#include <mutex>
#include <optional>
#include <vector>

#include "command_line.h"
#include "composer_launcher.h"
#include "composer_run.h"
#include "grid_composer.h"
#include "grid_jobs.h"
#include "grid_layout.h"
#include "imaging/system/file_io.h"
#include "job_file_writer.h"
#include "logging.h"
#include "win32_owners.h"

namespace runner::printing {
namespace {

using Clock = std::chrono::steady_clock;

std::int32_t ElapsedMs(Clock::time_point start) {
  return static_cast<std::int32_t>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count() / 1000000);
}

constexpr DWORD kWaitStepMs = 100;
constexpr DWORD kChunk = 4095;

// Adds what the pipe holds now to the output, without blocking; the number
// of lines it completed.
int DrainAvailable(HANDLE pipe, ComposerOutput& output) {
  char chunk[kChunk + 1];
  DWORD available = 0;
  int lines = 0;
  while (PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) && available > 0) {
    DWORD read = 0;
    if (!ReadFile(pipe, chunk, kChunk, &read, nullptr) || read == 0) break;
    chunk[read] = '\0';
    lines += output.Append(chunk);  // up to the first zero byte of the chunk
  }
  return lines;
}

// Reads until the pipe reports its end.
void DrainToEnd(HANDLE pipe, ComposerOutput& output) {
  char chunk[kChunk + 1];
  DWORD read = 0;
  while (ReadFile(pipe, chunk, kChunk, &read, nullptr) && read > 0) {
    chunk[read] = '\0';
    output.Append(chunk);
  }
}

// Every composer runs in this job object, which the host never closes: when
// the host ends, for whatever reason, the system closes it and ends every
// composer still running.
HANDLE ComposerJobObject() {
  static const HANDLE job = [] {
    HANDLE made = CreateJobObjectW(nullptr, nullptr);
    if (made) {
      JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
      limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
      SetInformationJobObject(made, JobObjectExtendedLimitInformation, &limits, sizeof(limits));
    }
    return made;
  }();
  return job;
}

// A child started with inheritance takes every inheritable handle of the
// host unless it is given a list. Each composer is given one (its own write
// end), and that end is inheritable only while its composer starts, under
// this lock, so that no other composer can ever hold it open.
std::mutex& LaunchMutex() {
  static std::mutex mutex;
  return mutex;
}

// The list of handles one child inherits, for CreateProcessW.
class InheritedHandles {
 public:
  explicit InheritedHandles(HANDLE handle) : handle_(handle) {
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    buffer_.resize(size);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(buffer_.data());
    if (size == 0 || !InitializeProcThreadAttributeList(list, 1, 0, &size)) return;
    initialised_ = true;
    ok_ = UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, &handle_,
                                    sizeof(handle_), nullptr, nullptr) != FALSE;
  }
  ~InheritedHandles() {
    if (initialised_) DeleteProcThreadAttributeList(get());
  }
  InheritedHandles(const InheritedHandles&) = delete;
  InheritedHandles& operator=(const InheritedHandles&) = delete;

  bool ok() const { return ok_; }
  LPPROC_THREAD_ATTRIBUTE_LIST get() {
    return reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(buffer_.data());
  }

 private:
  HANDLE handle_;  // the list points at it
  std::vector<BYTE> buffer_;
  bool initialised_ = false;
  bool ok_ = false;
};

struct ComposerRun {
  bool started = false;
  bool stalled = false;  // stopped by the watchdog
  DWORD exitCode = 1;
};

ComposerRun RunComposer(const std::wstring& commandLine, ComposerOutput& output, int limitMs) {
  ComposerRun run;
  std::optional<ComposerProcess> composer = StartComposer(commandLine);
  if (!composer) return run;
  run.started = true;
  if (!ComposerJobObject() ||
      !AssignProcessToJobObject(ComposerJobObject(), composer->process.get())) {
    LogError("DEBUG C++: The composer could not be put in the host's job object");
  }
  ResumeThread(composer->thread.get());

  HANDLE process = composer->process.get();
  HANDLE pipe = composer->output.get();
  const auto stallLimit = std::chrono::milliseconds(limitMs);
  // A stall counts from the last photo placed or page saved, not from the
  // last line: the heartbeat goes on while a read never ends.
  Clock::time_point lastMoved = Clock::now();
  std::int64_t done = output.WorkDone();
  while (true) {
    const DWORD wait = WaitForSingleObject(process, kWaitStepMs);
    DrainAvailable(pipe, output);
    if (output.WorkDone() != done) {
      done = output.WorkDone();
      lastMoved = Clock::now();
    }
    if (wait == WAIT_OBJECT_0) {
      DrainToEnd(pipe, output);
      GetExitCodeProcess(process, &run.exitCode);
      break;
    }
    if (wait != WAIT_TIMEOUT) {
      LogError("DEBUG C++: WaitForSingleObject failed");
      TerminateProcess(process, 1);
      run.exitCode = 1;
      break;
    }
    if (Clock::now() - lastMoved >= stallLimit) {
      TerminateProcess(process, 1);
      WaitForSingleObject(process, 5000);
      DrainAvailable(pipe, output);
      run.stalled = true;
      run.exitCode = 1;
      break;
    }
  }
  return run;
}

// Removes what a composer that was stopped, or failed, left half written
// (its process has ended, so its partial files are a dead writer's).
void RemovePartialPages(const GridRequest& request) {
  sheetsmith::RemoveDeadPartials(request.outputPaths);
}

GridResult Fallback(const GridRequest& request, GridProgress& progress,
                    const std::vector<std::size_t>& pages = {}) {
  return GridComposer(request, progress, pages);
}

// After a composer that failed or was stopped: the host's own composer makes
// only the pages it did not write, and keeps the good ones it did.
GridResult RemakeUnwritten(const GridRequest& request, GridProgress& progress,
                           const std::vector<std::size_t>& unwritten, Clock::time_point start) {
  GridResult result;
  if (unwritten.empty()) {
    result.success = true;
  } else {
    result = Fallback(request, progress, unwritten);
  }
  result.totalTimeMs = ElapsedMs(start);
  return result;
}

}  // namespace

std::optional<ComposerProcess> StartComposer(std::wstring commandLine) {
  std::lock_guard<std::mutex> lock(LaunchMutex());
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, nullptr, 0)) return std::nullopt;
  ComposerProcess composer;
  composer.output.reset(readEnd);
  UniqueHandle pipeWrite(writeEnd);
  InheritedHandles inherited(writeEnd);
  if (!inherited.ok() ||
      !SetHandleInformation(writeEnd, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT)) {
    return std::nullopt;
  }

  STARTUPINFOEXW startup = {};
  startup.StartupInfo.cb = sizeof(startup);
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
  startup.StartupInfo.wShowWindow = SW_HIDE;
  startup.StartupInfo.hStdInput = nullptr;
  startup.StartupInfo.hStdOutput = writeEnd;
  startup.StartupInfo.hStdError = writeEnd;
  startup.lpAttributeList = inherited.get();
  PROCESS_INFORMATION process = {};
  // Suspended until it is in the job object, so it cannot start a child of
  // its own outside it.
  const bool started =
      CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE,
                     CREATE_NO_WINDOW | CREATE_SUSPENDED | EXTENDED_STARTUPINFO_PRESENT, nullptr,
                     nullptr, &startup.StartupInfo, &process) != FALSE;
  // The composer holds the write end now; ours must go, or the pipe never ends.
  pipeWrite.reset();
  if (!started) return std::nullopt;
  composer.process.reset(process.hProcess);
  composer.thread.reset(process.hThread);
  return composer;
}

std::wstring FindComposerPath() {
  std::vector<wchar_t> buffer(MAX_PATH);
  while (true) {
    const DWORD length =
        GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    // Without the host's own path there is no folder to look in; a bare name
    // would be searched for along the current folder and the search path.
    if (length == 0) return {};
    if (length < buffer.size()) return ComposerPathBeside(std::wstring(buffer.data(), length));
    if (buffer.size() >= 32768) return {};
    buffer.resize(buffer.size() * 2);
  }
}

std::wstring ComposerCommandLine(const std::wstring& composerPath, const std::wstring& jobPath) {
  return L"\"" + composerPath + L"\" \"" + jobPath + L"\"";
}

GridResult CreateGridImagesWithHelper(const GridRequest& request, GridProgress& progress) {
  LogError("DEBUG C++: CreateGridImagesWithHelper called!");
  const Clock::time_point start = Clock::now();
  // A colour target that cannot be used fails the request, as it fails a
  // bake: neither composer could make its pages.
  if (const std::string failure = GridColorTarget(request).failure; !failure.empty()) {
    LogError("ERROR: " + failure);
    GridResult failed;
    failed.errorMessage = failure;
    return failed;
  }
  const std::wstring composerPath = FindComposerPath();
  if (composerPath.empty()) {
    LogError("DEBUG C++: The host's own path is unknown; sheetsmith.exe not found, using fallback");
    return Fallback(request, progress);
  }
  LogError("DEBUG C++: Looking for helper at: " + Utf8FromUtf16(composerPath.c_str()));
  if (!request.imagePaths.empty()) {
    LogError("DEBUG C++: First image path: " + request.imagePaths[0]);
  }
  if (GetFileAttributesW(composerPath.c_str()) == INVALID_FILE_ATTRIBUTES) {
    LogError("DEBUG C++: sheetsmith.exe not found, using fallback");
    return Fallback(request, progress);
  }
  LogError(std::string("DEBUG C++: CreateGridImagesWithHelper showCutGrid=") +
           (request.showCutGrid ? "1" : "0") + ", widthMm=" + FormatG(request.cutGridWidthMm));
  if (const std::optional<std::string> reason = ReasonJobFileCannotCarry(request)) {
    LogError("INFO: The job file cannot carry this request (" + *reason + "), using fallback");
    return Fallback(request, progress);
  }

  const std::wstring jobPath = WriteGridConfig(request);
  if (jobPath.empty()) {
    // A full disk or a temporary folder that cannot be made: the host's own
    // composer would answer success with pages short of what was asked.
    LogError("ERROR: Failed to create config file");
    GridResult result;
    result.errorMessage = "Failed to create config file";
    return result;
  }
  LogError("DEBUG C++: Config file created with " + std::to_string(request.imagePaths.size()) +
           " images, " + std::to_string(request.outputPaths.size()) + " outputs");

  ComposerOutput output(progress);
  LogError("DEBUG C++: Running sheetsmith.exe...");
  const int stallLimitMs = ComposerStallLimitMs();
  const ComposerRun run =
      RunComposer(ComposerCommandLine(composerPath, jobPath), output, stallLimitMs);
  DeleteFileW(jobPath.c_str());
  if (!run.started) {
    LogError("DEBUG C++: Failed to start sheetsmith.exe, using fallback");
    return Fallback(request, progress);
  }
  if (!output.text().empty()) LogErrorRaw(output.text());
  // The pages the composer wrote are those it named; a page that stands at
  // its path otherwise (an earlier run's) is not this run's.
  const std::vector<std::size_t> unwritten = output.PagesNotWritten(request.outputPaths.size());
  if (run.stalled) {
    // The request fails, naming what the composer waited for; the host's
    // own composer is not run, since it would wait on the same photo (or
    // profile). The pages the composer wrote stay.
    LogError("ERROR: Page composer stopped responding");
    RemovePartialPages(request);
    for (const std::size_t index : output.PhotosInHand()) {
      if (index < request.imagePaths.size()) progress.PhotoUnreadable(index);
    }
    GridResult result;
    result.errorMessage = StalledMessage(request, output.PhotosInHand(), stallLimitMs);
    LogError("ERROR: " + result.errorMessage);
    result.totalTimeMs = ElapsedMs(start);
    return result;
  }

  if (run.exitCode == 0) {
    if (!unwritten.empty()) {
      // Only those pages are made again: the others are the composer's.
      LogError("ERROR: sheetsmith reported success but page " + std::to_string(unwritten[0] + 1) +
               " was not written by this run, using fallback for " +
               std::to_string(unwritten.size()) + " page(s)");
      GridResult result = Fallback(request, progress, unwritten);
      result.totalTimeMs = ElapsedMs(start);
      return result;
    }
    const std::int32_t elapsed = ElapsedMs(start);
    LogError("DEBUG C++: sheetsmith completed in " + std::to_string(elapsed) + "ms");
    GridResult result;
    result.success = true;
    result.totalTimeMs = elapsed;
    return result;
  }
  LogError("DEBUG C++: sheetsmith failed (exit=" +
           std::to_string(static_cast<unsigned long>(run.exitCode)) + "), using fallback for " +
           std::to_string(unwritten.size()) + " page(s) it did not write");
  RemovePartialPages(request);
  return RemakeUnwritten(request, progress, unwritten, start);
}

}  // namespace runner::printing
