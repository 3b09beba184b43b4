// Owns one engine instance until a view controller takes it over.
#pragma once

#include <functional>
#include <string>

#include "dart_project.h"
#include "flutter_windows.h"

namespace flutter {

class FlutterEngine {
 public:
  explicit FlutterEngine(const DartProject& project);
  ~FlutterEngine();
  FlutterEngine(const FlutterEngine&) = delete;
  FlutterEngine& operator=(const FlutterEngine&) = delete;

  bool running() const { return engine_ != nullptr; }
  FlutterDesktopMessengerRef messenger() const { return messenger_; }

  // Null, with a line on standard error, when the engine is not running.
  FlutterDesktopPluginRegistrarRef GetRegistrarForPlugin(const std::string& pluginName);
  void ReloadSystemFonts();
  // Runs `callback` once on the platform thread after the next frame.
  void SetNextFrameCallback(std::function<void()> callback);

  // Hands the engine to a view controller, which then owns it; this object
  // keeps using it but no longer destroys it.
  FlutterDesktopEngineRef RelinquishEngine();

 private:
  static void OnNextFrame(void* userData);

  FlutterDesktopEngineRef engine_ = nullptr;
  FlutterDesktopMessengerRef messenger_ = nullptr;
  bool ownsEngine_ = true;
  std::function<void()> nextFrameCallback_;
};

}  // namespace flutter
