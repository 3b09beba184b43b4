// The seven plug-ins registered with the engine, in their fixed order.
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
// The face detection plug-in is built with Visual C++ and exports its
// function under Visual C++'s decorated name. Other compilers decorate C++
// names differently, so they import it by that exact name.
#if defined(_MSC_VER)
__declspec(dllimport) void FaceDetectionTflitePluginRegisterWithRegistrar(
    FlutterDesktopPluginRegistrar* registrar);
#else
extern "C" void
FaceDetectionTflitePluginRegisterWithRegistrar(FlutterDesktopPluginRegistrar* registrar) __asm__(
    "\"?FaceDetectionTflitePluginRegisterWithRegistrar@@YAXPEAUFlutterDesktopPluginRegistrar@@@"
    "Z\"");
#endif

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
