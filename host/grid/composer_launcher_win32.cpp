#include <chrono>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <vector>

#include "command_line.h"
#include "composer_launcher.h"
#include "composer_slots.h"
#include "grid_composer.h"
#include "grid_config_writer.h"
#include "grid_jobs.h"
#include "logging.h"
#include "win32_owners.h"

namespace runner::printing {
namespace {

using Clock = std::chrono::steady_clock;

constexpr DWORD kWaitStepMs = 100;
constexpr DWORD kChunk = 4095;

// Appends what the pipe holds now, without blocking; the number of bytes read.
std::size_t DrainAvailable(HANDLE pipe, std::string& output) {
  char chunk[kChunk + 1];
  DWORD available = 0;
  std::size_t total = 0;
  while (PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) && available > 0) {
    DWORD read = 0;
    if (!ReadFile(pipe, chunk, kChunk, &read, nullptr) || read == 0) break;
    total += read;
    chunk[read] = '\0';
    output.append(chunk);  // up to the first zero byte of the chunk
  }
  return total;
}

// Reads until the pipe reports its end.
void DrainToEnd(HANDLE pipe, std::string& output) {
  char chunk[kChunk + 1];
  DWORD read = 0;
  while (ReadFile(pipe, chunk, kChunk, &read, nullptr) && read > 0) {
    chunk[read] = '\0';
    output.append(chunk);
  }
}

GridResult Fallback(const GridRequest& request) { return GridComposer(request); }

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
// host, so the write end of one run's pipe must never be open while another
// run starts its composer: pipe creation, process creation and closing our
// write end happen under this lock.
std::mutex& LaunchMutex() {
  static std::mutex mutex;
  return mutex;
}

ComposerSlots& Slots() {
  static ComposerSlots slots(kMaxConcurrentComposers);
  return slots;
}

struct ComposerRun {
  bool started = false;
  bool stalled = false;  // stopped by the watchdog
  DWORD exitCode = 1;
  std::string output;
};

ComposerRun RunComposer(std::wstring commandLine) {
  ComposerRun run;
  UniqueHandle pipeRead;
  UniqueHandle processHandle;
  UniqueHandle threadHandle;
  {
    std::lock_guard<std::mutex> lock(LaunchMutex());
    SECURITY_ATTRIBUTES inheritable = {sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inheritable, 0)) return run;
    pipeRead.reset(readEnd);
    UniqueHandle pipeWrite(writeEnd);
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    startup.hStdInput = nullptr;
    startup.hStdOutput = pipeWrite.get();
    startup.hStdError = pipeWrite.get();
    PROCESS_INFORMATION process = {};
    // Suspended until it is in the job object, so it cannot start a child
    // of its own outside it.
    run.started = CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE,
                                 CREATE_NO_WINDOW | CREATE_SUSPENDED, nullptr, nullptr, &startup,
                                 &process) != FALSE;
    // The composer holds the write end now; ours must go, or the pipe never ends.
    pipeWrite.reset();
    if (!run.started) return run;
    processHandle.reset(process.hProcess);
    threadHandle.reset(process.hThread);
  }
  if (!ComposerJobObject() || !AssignProcessToJobObject(ComposerJobObject(), processHandle.get())) {
    LogError("DEBUG C++: The composer could not be put in the host's job object");
  }
  ResumeThread(threadHandle.get());

  const auto silenceLimit =
      std::chrono::milliseconds(ComposerWatchdogMs(std::getenv("KORVELA_COMPOSER_WATCHDOG_MS")));
  Clock::time_point lastHeard = Clock::now();
  while (true) {
    const DWORD wait = WaitForSingleObject(processHandle.get(), kWaitStepMs);
    if (DrainAvailable(pipeRead.get(), run.output) > 0) lastHeard = Clock::now();
    if (wait == WAIT_OBJECT_0) {
      DrainToEnd(pipeRead.get(), run.output);
      GetExitCodeProcess(processHandle.get(), &run.exitCode);
      break;
    }
    if (wait != WAIT_TIMEOUT) {
      LogError("DEBUG C++: WaitForSingleObject failed");
      TerminateProcess(processHandle.get(), 1);
      run.exitCode = 1;
      break;
    }
    if (Clock::now() - lastHeard >= silenceLimit) {
      TerminateProcess(processHandle.get(), 1);
      WaitForSingleObject(processHandle.get(), 5000);
      DrainAvailable(pipeRead.get(), run.output);
      run.stalled = true;
      run.exitCode = 1;
      break;
    }
  }
  return run;
}

// The first output path that is not a file on disk, or nullopt.
std::optional<std::size_t> FirstMissingPage(const GridRequest& request) {
  for (std::size_t i = 0; i < request.outputPaths.size(); ++i) {
    const DWORD attributes = GetFileAttributesW(Utf16FromUtf8(request.outputPaths[i]).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return i;
  }
  return std::nullopt;
}

}  // namespace

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

GridResult CreateGridImagesWithHelper(const GridRequest& request) {
  LogError("DEBUG C++: CreateGridImagesWithHelper called!");
  const Clock::time_point start = Clock::now();
  const std::wstring composerPath = FindComposerPath();
  if (composerPath.empty()) {
    LogError("DEBUG C++: The host's own path is unknown; sheetsmith.exe not found, using fallback");
    return Fallback(request);
  }
  LogError("DEBUG C++: Looking for helper at: " + Utf8FromUtf16(composerPath.c_str()));
  if (!request.imagePaths.empty()) {
    LogError("DEBUG C++: First image path: " + request.imagePaths[0]);
  }
  if (GetFileAttributesW(composerPath.c_str()) == INVALID_FILE_ATTRIBUTES) {
    LogError("DEBUG C++: sheetsmith.exe not found, using fallback");
    return Fallback(request);
  }
  LogError(std::string("DEBUG C++: CreateGridImagesWithHelper showCutGrid=") +
           (request.showCutGrid ? "1" : "0") + ", widthMm=" + FormatG(request.cutGridWidthMm));
  if (const std::optional<std::string> reason = ReasonJobFileCannotCarry(request)) {
    LogError("INFO: The job file cannot carry this request (" + *reason + "), using fallback");
    return Fallback(request);
  }

  const std::wstring jobPath = WriteGridConfig(request);
  if (jobPath.empty()) {
    LogError("ERROR: Failed to create config file, using fallback");
    return Fallback(request);
  }
  LogError("DEBUG C++: Config file created with " + std::to_string(request.imagePaths.size()) +
           " images, " + std::to_string(request.outputPaths.size()) + " outputs");

  ComposerRun run;
  {
    const ComposerSlots::Held slot(Slots());
    LogError("DEBUG C++: Running sheetsmith.exe...");
    run = RunComposer(ComposerCommandLine(composerPath, jobPath));
  }
  DeleteFileW(jobPath.c_str());
  if (!run.started) {
    LogError("DEBUG C++: Failed to start sheetsmith.exe, using fallback");
    return Fallback(request);
  }
  if (!run.output.empty()) LogErrorRaw(run.output);
  if (run.stalled) {
    LogError("ERROR: Page composer stopped responding");
    return Fallback(request);
  }
  const long long elapsed =
      std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count() / 1000000;

  if (run.exitCode == 0) {
    if (const std::optional<std::size_t> missing = FirstMissingPage(request)) {
      LogError("ERROR: sheetsmith reported success but page " + std::to_string(*missing + 1) +
               " is missing, using fallback");
      return Fallback(request);
    }
    LogError("DEBUG C++: sheetsmith completed in " + std::to_string(elapsed) + "ms");
    GridResult result;
    result.success = true;
    result.totalTimeMs = static_cast<std::int32_t>(elapsed);
    return result;
  }
  LogError("DEBUG C++: sheetsmith failed (exit=" +
           std::to_string(static_cast<unsigned long>(run.exitCode)) + "), using fallback");
  return Fallback(request);
}

}  // namespace runner::printing
