#include "plugin_registrant.h"

// The plug-in libraries' registration functions, linked at load time. All but
// the face detection plug-in export a plain C name.
extern "C" {
__declspec(dllimport) void DesktopDropPluginRegisterWithRegistrar(
    FlutterDesktopPluginRegistrarRef registrar);
__declspec(dllimport) void FileSelectorWindowsRegisterWithRegistrar(
    FlutterDesktopPluginRegistrarRef registrar);
__declspec(dllimport) void PdfxPluginRegisterWithRegistrar(
    FlutterDesktopPluginRegistrarRef registrar);
__declspec(dllimport) void ScreenRetrieverWindowsPluginCApiRegisterWithRegistrar(
    FlutterDesktopPluginRegistrarRef registrar);
__declspec(dllimport) void UrlLauncherWindowsRegisterWithRegistrar(
    FlutterDesktopPluginRegistrarRef registrar);
__declspec(dllimport) void WindowManagerPluginRegisterWithRegistrar(
    FlutterDesktopPluginRegistrarRef registrar);
}
// Exported under its C++ decorated name.
__declspec(dllimport) void FaceDetectionTflitePluginRegisterWithRegistrar(
    FlutterDesktopPluginRegistrar* registrar);

namespace runner {

void RegisterPlugins(flutter::FlutterEngine* engine) {
  DesktopDropPluginRegisterWithRegistrar(engine->GetRegistrarForPlugin("DesktopDropPlugin"));
  FaceDetectionTflitePluginRegisterWithRegistrar(
      engine->GetRegistrarForPlugin("FaceDetectionTflitePlugin"));
  FileSelectorWindowsRegisterWithRegistrar(engine->GetRegistrarForPlugin("FileSelectorWindows"));
  PdfxPluginRegisterWithRegistrar(engine->GetRegistrarForPlugin("PdfxPlugin"));
  ScreenRetrieverWindowsPluginCApiRegisterWithRegistrar(
      engine->GetRegistrarForPlugin("ScreenRetrieverWindowsPluginCApi"));
  UrlLauncherWindowsRegisterWithRegistrar(engine->GetRegistrarForPlugin("UrlLauncherWindows"));
  WindowManagerPluginRegisterWithRegistrar(engine->GetRegistrarForPlugin("WindowManagerPlugin"));
}

}  // namespace runner
