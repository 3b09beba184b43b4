// Creation of the printing channel by the main window.
#pragma once

#include <windows.h>

#include <memory>

#include "flutter_messenger.h"
#include "method_channel.h"

namespace runner::printing {

// Creates "printing_channel" with the standard codec and its dispatch, and
// stores it in `channel`, replacing (and destroying) what that held. The
// window handle is not used by the channel.
void SetupPrintingChannel(FlutterDesktopMessengerRef messenger,
                          std::unique_ptr<MethodChannel>& channel, HWND window);

}  // namespace runner::printing
