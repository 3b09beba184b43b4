// Registers the Flutter plug-ins the interface uses, once, in a fixed order.
#pragma once

#include "flutter_engine.h"

namespace runner {

void RegisterPlugins(flutter::FlutterEngine* engine);

}  // namespace runner
