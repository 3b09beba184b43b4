// The main window: hosts the engine's view, registers the plug-ins, and owns
// the host's four channels for its whole life.
#pragma once

#include <memory>

#include "dart_project.h"
#include "flutter_view_controller.h"
#include "method_channel.h"
#include "win32_window.h"

namespace runner {

class FlutterWindow : public Win32Window {
 public:
  explicit FlutterWindow(const flutter::DartProject& project);
  ~FlutterWindow() override;

 protected:
  bool OnCreate() override;
  void OnDestroy() override;
  LRESULT MessageHandler(HWND window, UINT message, WPARAM wparam, LPARAM lparam) override;

 private:
  flutter::DartProject project_;
  std::unique_ptr<flutter::FlutterViewController> controller_;
  std::unique_ptr<MethodChannel> printingChannel_;
  std::unique_ptr<MethodChannel> thumbnailChannel_;
  std::unique_ptr<MethodChannel> mediaInfoChannel_;
  std::unique_ptr<MethodChannel> faceRectsChannel_;
};

}  // namespace runner
