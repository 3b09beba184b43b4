// The engine's view in a child window, with the engine it runs. Owns both:
// destroying the controller shuts the view and the engine down.
#pragma once

#include <memory>
#include <optional>

#include "dart_project.h"
#include "flutter_engine.h"
#include "flutter_windows.h"

namespace flutter {

class FlutterView {
 public:
  explicit FlutterView(FlutterDesktopViewRef view) : view_(view) {}
  HWND GetNativeWindow() const { return FlutterDesktopViewGetHWND(view_); }

 private:
  FlutterDesktopViewRef view_;
};

class FlutterViewController {
 public:
  // Starts the engine for `project` and a view of width x height pixels.
  // When the view cannot be made, "Failed to create view controller." goes to
  // standard error and engine() and view() are null.
  FlutterViewController(int width, int height, const DartProject& project);
  ~FlutterViewController();
  FlutterViewController(const FlutterViewController&) = delete;
  FlutterViewController& operator=(const FlutterViewController&) = delete;

  FlutterEngine* engine() const { return controller_ ? engine_.get() : nullptr; }
  FlutterView* view() const { return view_.get(); }

  void ForceRedraw();

  // The engine's result when it handles the message itself.
  std::optional<LRESULT> HandleTopLevelWindowProc(HWND hwnd, UINT message, WPARAM wparam,
                                                  LPARAM lparam);

 private:
  std::unique_ptr<FlutterEngine> engine_;
  FlutterDesktopViewControllerRef controller_ = nullptr;
  std::unique_ptr<FlutterView> view_;
};

}  // namespace flutter
