// The view controller: the engine's view made in a child window, shut down
// with it.
#include "flutter_view_controller.h"

#include <cstdio>

namespace flutter {

FlutterViewController::FlutterViewController(int width, int height, const DartProject& project)
    : engine_(std::make_unique<FlutterEngine>(project)) {
  if (engine_->running()) {
    controller_ = FlutterDesktopViewControllerCreate(width, height, engine_->RelinquishEngine());
  }
  if (!controller_) {
    std::fputs("Failed to create view controller.\n", stderr);
    std::fflush(stderr);
    // The view controller took the engine over even though it failed, and
    // has freed it; the wrapper no longer owns it and destroys nothing.
    engine_.reset();
    return;
  }
  view_ = std::make_unique<FlutterView>(FlutterDesktopViewControllerGetView(controller_));
}

FlutterViewController::~FlutterViewController() {
  if (controller_) FlutterDesktopViewControllerDestroy(controller_);
}

void FlutterViewController::ForceRedraw() {
  if (controller_) FlutterDesktopViewControllerForceRedraw(controller_);
}

std::optional<LRESULT> FlutterViewController::HandleTopLevelWindowProc(HWND hwnd, UINT message,
                                                                       WPARAM wparam,
                                                                       LPARAM lparam) {
  LRESULT result = 0;
  if (controller_ && FlutterDesktopViewControllerHandleTopLevelWindowProc(
                         controller_, hwnd, message, wparam, lparam, &result)) {
    return result;
  }
  return std::nullopt;
}

}  // namespace flutter
