// The main window's life: the view made, the plug-ins registered, the
// channels served, the window's messages passed on.
#include "flutter_window.h"

#include "analysis_channels.h"
#include "face_results.h"
#include "long_calls.h"
#include "plugin_registrant.h"
#include "printing_channel_setup.h"

namespace runner {

FlutterWindow::FlutterWindow(const flutter::DartProject& project) : project_(project) {}

FlutterWindow::~FlutterWindow() {
  faceRectsChannel_.reset();
  mediaInfoChannel_.reset();
  thumbnailChannel_.reset();
  printingChannel_.reset();
  controller_.reset();
}

bool FlutterWindow::OnCreate() {
  if (!Win32Window::OnCreate()) return false;

  const RECT frame = GetClientArea();
  controller_ = std::make_unique<flutter::FlutterViewController>(
      frame.right - frame.left, frame.bottom - frame.top, project_);
  if (!controller_->engine() || !controller_->view()) return false;

  flutter::FlutterEngine* engine = controller_->engine();
  RegisterPlugins(engine);
  SetChildContent(controller_->view()->GetNativeWindow());

  // Long calls answer through this window from now on.
  const HWND handle = GetHandle();
  SetAnswerPoster([handle](std::intptr_t record) {
    return PostMessageW(handle, kLongCallAnswerMessage, 0, static_cast<LPARAM>(record)) != FALSE;
  });

  FlutterDesktopMessengerRef messenger = engine->messenger();
  printing::SetupPrintingChannel(messenger, printingChannel_, GetHandle());
  thumbnailChannel_ = CreateThumbnailChannel(messenger);
  mediaInfoChannel_ = CreateMediaInfoChannel(messenger);
  faceRectsChannel_ = CreateFaceRectsChannel(messenger, [this]() -> void* { return GetHandle(); });

  // Hidden until the interface has drawn its first frame.
  engine->SetNextFrameCallback([this]() { ShowWindow(GetHandle(), SW_SHOWNORMAL); });
  controller_->ForceRedraw();
  return true;
}

void FlutterWindow::OnDestroy() {
  SetAnswerPoster(nullptr);
  controller_.reset();
  Win32Window::OnDestroy();
}

LRESULT FlutterWindow::MessageHandler(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (controller_) {
    if (const std::optional<LRESULT> handled =
            controller_->HandleTopLevelWindowProc(window, message, wparam, lparam)) {
      return *handled;
    }
  }
  switch (message) {
    case WM_FONTCHANGE:
      if (controller_ && controller_->engine()) controller_->engine()->ReloadSystemFonts();
      break;
    case kFaceResultsMessage:
      return static_cast<LRESULT>(AnswerFaceResults(static_cast<std::intptr_t>(lparam)));
    case kLongCallAnswerMessage:
      return static_cast<LRESULT>(AnswerLongCall(static_cast<std::intptr_t>(lparam)));
    default:
      break;
  }
  return Win32Window::MessageHandler(window, message, wparam, lparam);
}

}  // namespace runner
