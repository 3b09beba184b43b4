// The Windows engine library's C interface: the engine, its view controller
// and view, and the helpers the host uses. Names and signatures are the
// engine's published ones, so that the engine's own header can replace this.
#ifndef KORVELA_FLUTTER_WINDOWS_H_
#define KORVELA_FLUTTER_WINDOWS_H_

#include <stddef.h>
#include <stdint.h>
#include <windows.h>

#include "flutter_export.h"
#include "flutter_messenger.h"
#include "flutter_plugin_registrar.h"

#if defined(__cplusplus)
extern "C" {
#endif

typedef void (*VoidCallback)(void* /* user data */);

typedef struct FlutterDesktopViewControllerState* FlutterDesktopViewControllerRef;
typedef struct FlutterDesktopView* FlutterDesktopViewRef;
typedef struct FlutterDesktopEngine* FlutterDesktopEngineRef;

typedef enum {
  NoPreference,  // 0: the engine's default
  LowPowerPreference,
} FlutterDesktopGpuPreference;

typedef enum {
  Default,  // 0: the engine's default
  RunOnPlatformThread,
  RunOnSeparateThread,
} FlutterDesktopUIThreadPolicy;

typedef struct {
  // Paths are relative to the executable's folder, or absolute.
  const wchar_t* assets_path;
  const wchar_t* icu_data_path;
  const wchar_t* aot_library_path;
  // Null or empty: the default entry point.
  const char* dart_entrypoint;
  int dart_entrypoint_argc;
  const char** dart_entrypoint_argv;
  FlutterDesktopGpuPreference gpu_preference;
  FlutterDesktopUIThreadPolicy ui_thread_policy;
} FlutterDesktopEngineProperties;

// Takes over `engine`; null when the view cannot be made.
FLUTTER_EXPORT FlutterDesktopViewControllerRef
FlutterDesktopViewControllerCreate(int width, int height, FlutterDesktopEngineRef engine);

// Shuts the view and its engine down.
FLUTTER_EXPORT void FlutterDesktopViewControllerDestroy(FlutterDesktopViewControllerRef controller);

FLUTTER_EXPORT FlutterDesktopEngineRef
FlutterDesktopViewControllerGetEngine(FlutterDesktopViewControllerRef controller);

FLUTTER_EXPORT FlutterDesktopViewRef
FlutterDesktopViewControllerGetView(FlutterDesktopViewControllerRef controller);

FLUTTER_EXPORT void FlutterDesktopViewControllerForceRedraw(
    FlutterDesktopViewControllerRef controller);

// Offers a top-level window message to the engine and its plug-ins; true when
// one of them handled it, with its result in `result`.
FLUTTER_EXPORT bool FlutterDesktopViewControllerHandleTopLevelWindowProc(
    FlutterDesktopViewControllerRef controller, HWND hwnd, UINT message, WPARAM wparam,
    LPARAM lparam, LRESULT* result);

FLUTTER_EXPORT FlutterDesktopEngineRef
FlutterDesktopEngineCreate(const FlutterDesktopEngineProperties* engine_properties);

FLUTTER_EXPORT bool FlutterDesktopEngineDestroy(FlutterDesktopEngineRef engine);

FLUTTER_EXPORT void FlutterDesktopEngineReloadSystemFonts(FlutterDesktopEngineRef engine);

// Null, with a message, when the engine is not running.
FLUTTER_EXPORT FlutterDesktopPluginRegistrarRef
FlutterDesktopEngineGetPluginRegistrar(FlutterDesktopEngineRef engine, const char* plugin_name);

FLUTTER_EXPORT FlutterDesktopMessengerRef
FlutterDesktopEngineGetMessenger(FlutterDesktopEngineRef engine);

// Calls `callback` once, on the platform thread, after the next frame.
FLUTTER_EXPORT void FlutterDesktopEngineSetNextFrameCallback(FlutterDesktopEngineRef engine,
                                                             VoidCallback callback,
                                                             void* user_data);

FLUTTER_EXPORT HWND FlutterDesktopViewGetHWND(FlutterDesktopViewRef view);

// 96 at 100 % scaling.
FLUTTER_EXPORT UINT FlutterDesktopGetDpiForMonitor(HMONITOR monitor);

// Lets the engine's own output follow reopened standard streams.
FLUTTER_EXPORT void FlutterDesktopResyncOutputStreams();

#if defined(__cplusplus)
}  // extern "C"
#endif

#endif  // KORVELA_FLUTTER_WINDOWS_H_
