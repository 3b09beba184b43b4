// The printing channel made with the platform's printing, baking and grid
// composition.
#include "printing_channel.h"
#include "printing_channel_setup.h"

namespace runner::printing {

void SetupPrintingChannel(FlutterDesktopMessengerRef messenger,
                          std::unique_ptr<MethodChannel>& channel, HWND /*window*/) {
  OutputDebugStringA("DEBUG: SetupPrintingChannel called\n");
  auto created = std::make_unique<MethodChannel>(messenger, kPrintingChannelName);
  created->SetMethodCallHandler(&HandlePrintingCall);
  channel = std::move(created);
}

}  // namespace runner::printing
