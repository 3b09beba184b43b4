// Korvela.exe: starts the engine with the interface in the main window and
// runs the message loop until the window is closed.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "command_line.h"
#include "dart_project.h"
#include "face_worker.h"
#include "flutter_window.h"
#include "flutter_windows.h"
#include "grid_jobs.h"
#include "logging.h"
#include "long_calls.h"
#include "message_loop.h"

namespace {

// A console for diagnostics: the parent's when there is one, a new one only
// under a debugger. Without either, standard output and error go nowhere.
void CreateAndAttachConsole() {
  if (AttachConsole(ATTACH_PARENT_PROCESS) || !IsDebuggerPresent()) return;
  if (!AllocConsole()) return;
  FILE* unused = nullptr;
  if (freopen_s(&unused, "CONOUT$", "w", stdout) != 0) _dup2(_fileno(stdout), 1);
  if (freopen_s(&unused, "CONOUT$", "w", stderr) != 0) _dup2(_fileno(stdout), 2);
  std::ios::sync_with_stdio();
  FlutterDesktopResyncOutputStreams();
}

}  // namespace

int APIENTRY wWinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, wchar_t* /*commandLine*/,
                      int /*showCommand*/) {
  CreateAndAttachConsole();
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

  flutter::DartProject project(L"data");
  project.set_dart_entrypoint_arguments(runner::GetCommandLineArguments());

  auto window = std::make_unique<runner::FlutterWindow>(project);
  if (!window->Create(L"Korvela", {10, 10}, {1280, 720})) {
    // COM stays initialised on this path; the process ends right away.
    window.reset();
    return EXIT_FAILURE;
  }
  window->SetQuitOnClose(true);

  MSG message;
  runner::RunMessageLoop([&message] { return GetMessageW(&message, nullptr, 0, 0); },
                         [&message] {
                           TranslateMessage(&message);
                           DispatchMessageW(&message);
                         });

  CoUninitialize();
  window.reset();
  // Calls still at work (face detection, baking, printing, waiting grid
  // requests) get a moment to finish; whatever they posted that the window
  // never took is answered, which the engine, gone, drops, and freed.
  const int working = runner::FinishWorkers(std::chrono::seconds(5));
  const int running = runner::printing::RunningGridJobs();
  if (working > 0 || running > 0) {
    // The rest are abandoned, not waited for: the process ends now, without
    // running static destructors under their feet. Composers are in a job
    // object that ends with the process.
    if (working > 0) {
      runner::LogError("INFO: Abandoning " + std::to_string(working) + " call(s) still at work");
    }
    if (running > 0) {
      runner::LogError("INFO: Abandoning " + std::to_string(running) + " running grid job(s)");
    }
    std::fflush(stdout);
    _exit(EXIT_SUCCESS);
  }
  return EXIT_SUCCESS;
}
