#include <chrono>
#include <vector>

#include "command_line.h"
#include "composer_launcher.h"
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

// Appends what the pipe holds now, without blocking.
void DrainAvailable(HANDLE pipe, std::string& output) {
  char chunk[kChunk + 1];
  DWORD available = 0;
  while (PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) && available > 0) {
    DWORD read = 0;
    if (!ReadFile(pipe, chunk, kChunk, &read, nullptr) || read == 0) break;
    chunk[read] = '\0';
    output.append(chunk);  // up to the first zero byte of the chunk
  }
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

}  // namespace

std::wstring FindComposerPath() {
  std::vector<wchar_t> buffer(MAX_PATH);
  while (true) {
    const DWORD length =
        GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return L"sheetsmith.exe";
    if (length < buffer.size()) {
      std::wstring path(buffer.data(), length);
      const std::size_t slash = path.find_last_of(L"\\/");
      return (slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1)) +
             L"sheetsmith.exe";
    }
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

  const std::wstring jobPath = WriteGridConfig(request);
  if (jobPath.empty()) {
    GridResult failed;
    failed.errorMessage = "Failed to create config file";
    return failed;
  }
  LogError("DEBUG C++: Config file created with " + std::to_string(request.imagePaths.size()) +
           " images, " + std::to_string(request.outputPaths.size()) + " outputs");
  LogError("DEBUG C++: Running sheetsmith.exe...");

  std::wstring commandLine = ComposerCommandLine(composerPath, jobPath);
  SECURITY_ATTRIBUTES inheritable = {sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  UniqueHandle pipeRead;
  UniqueHandle pipeWrite;
  if (CreatePipe(&readEnd, &writeEnd, &inheritable, 0)) {
    pipeRead.reset(readEnd);
    pipeWrite.reset(writeEnd);
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  }

  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  startup.hStdInput = nullptr;
  startup.hStdOutput = pipeWrite.get();
  startup.hStdError = pipeWrite.get();
  PROCESS_INFORMATION process = {};
  const BOOL started =
      pipeRead && CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE,
                                 CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process);
  // The composer holds the write end now; ours must go, or the pipe never ends.
  pipeWrite.reset();
  if (!started) {
    pipeRead.reset();
    DeleteFileW(jobPath.c_str());
    LogError("DEBUG C++: Failed to start sheetsmith.exe, using fallback");
    return Fallback(request);
  }
  UniqueHandle processHandle(process.hProcess);
  UniqueHandle threadHandle(process.hThread);

  std::string output;
  DWORD exitCode = 1;
  while (true) {
    const DWORD wait = WaitForSingleObject(processHandle.get(), kWaitStepMs);
    DrainAvailable(pipeRead.get(), output);
    if (wait == WAIT_OBJECT_0) {
      DrainToEnd(pipeRead.get(), output);
      GetExitCodeProcess(processHandle.get(), &exitCode);
      break;
    }
    if (wait != WAIT_TIMEOUT) {
      LogError("DEBUG C++: WaitForSingleObject failed");
      break;
    }
  }

  pipeRead.reset();
  if (!output.empty()) LogErrorRaw(output);
  processHandle.reset();
  threadHandle.reset();
  DeleteFileW(jobPath.c_str());
  const long long elapsed =
      std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count() / 1000000;

  if (exitCode == 0) {
    LogError("DEBUG C++: sheetsmith completed in " + std::to_string(elapsed) + "ms");
    GridResult result;
    result.success = true;
    result.totalTimeMs = static_cast<std::int32_t>(elapsed);
    return result;
  }
  LogError("DEBUG C++: sheetsmith failed (exit=" +
           std::to_string(static_cast<unsigned long>(exitCode)) + "), using fallback");
  return Fallback(request);
}

}  // namespace runner::printing
