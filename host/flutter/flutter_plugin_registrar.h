// A plug-in's registrar: the engine hands one to each plug-in at start-up.
// Names and signatures are the engine's published ones.
#ifndef KORVELA_FLUTTER_PLUGIN_REGISTRAR_H_
#define KORVELA_FLUTTER_PLUGIN_REGISTRAR_H_

#include "flutter_export.h"
#include "flutter_messenger.h"

#if defined(__cplusplus)
extern "C" {
#endif

typedef struct FlutterDesktopPluginRegistrar* FlutterDesktopPluginRegistrarRef;

FLUTTER_EXPORT FlutterDesktopMessengerRef
FlutterDesktopPluginRegistrarGetMessenger(FlutterDesktopPluginRegistrarRef registrar);

#if defined(__cplusplus)
}  // extern "C"
#endif

#endif  // KORVELA_FLUTTER_PLUGIN_REGISTRAR_H_
