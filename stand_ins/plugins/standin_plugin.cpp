// A stand-in Flutter plug-in: its registration function records that it was
// called, and with a registrar for which name. One source, built seven
// times with a different PLUGIN_NAME and PLUGIN_FUNCTION.
#include <string>

#include "flutter_plugin_registrar.h"
#include "standin_record.h"

struct FlutterDesktopPluginRegistrar {
  std::string name;  // the stand-in engine's layout
};

namespace {

void RecordRegistration(FlutterDesktopPluginRegistrarRef registrar) {
  const std::string line = std::string("plugin ") + PLUGIN_NAME +
                           " registrar=" + (registrar ? registrar->name : std::string("(null)"));
  KorvelaStandInRecord(line.c_str());
}

}  // namespace

#if defined(PLUGIN_DECORATED_EXPORT)
// Exported by the library's .def file under the name Visual C++ gives the
// real plug-in's C++ function, and under no other.
extern "C" void StandInRegisterWithRegistrar(FlutterDesktopPluginRegistrar* registrar) {
  RecordRegistration(registrar);
}
#else
extern "C" __declspec(dllexport) void PLUGIN_FUNCTION(FlutterDesktopPluginRegistrarRef registrar) {
  RecordRegistration(registrar);
}
#endif
