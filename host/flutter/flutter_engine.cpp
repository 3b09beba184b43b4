// The engine instance, made from the project's paths and run until a view
// takes it.
#include "flutter_engine.h"

#include <cstdio>
#include <vector>

namespace flutter {

FlutterEngine::FlutterEngine(const DartProject& project) {
  std::vector<const char*> arguments;
  for (const std::string& argument : project.dart_entrypoint_arguments()) {
    arguments.push_back(argument.c_str());
  }
  FlutterDesktopEngineProperties properties = {};
  properties.assets_path = project.assets_path().c_str();
  properties.icu_data_path = project.icu_data_path().c_str();
  properties.aot_library_path = project.aot_library_path().c_str();
  properties.dart_entrypoint = project.dart_entrypoint().c_str();
  properties.dart_entrypoint_argc = static_cast<int>(arguments.size());
  properties.dart_entrypoint_argv = arguments.empty() ? nullptr : arguments.data();
  properties.gpu_preference = NoPreference;
  properties.ui_thread_policy = Default;
  engine_ = FlutterDesktopEngineCreate(&properties);
  if (engine_) messenger_ = FlutterDesktopEngineGetMessenger(engine_);
}

FlutterEngine::~FlutterEngine() {
  if (engine_ && ownsEngine_) FlutterDesktopEngineDestroy(engine_);
}

FlutterDesktopPluginRegistrarRef FlutterEngine::GetRegistrarForPlugin(
    const std::string& pluginName) {
  if (!engine_) {
    std::fputs("Cannot get plugin registrar on an engine that isn't running; call Run first.\n",
               stderr);
    std::fflush(stderr);
    return nullptr;
  }
  return FlutterDesktopEngineGetPluginRegistrar(engine_, pluginName.c_str());
}

void FlutterEngine::ReloadSystemFonts() {
  if (engine_) FlutterDesktopEngineReloadSystemFonts(engine_);
}

void FlutterEngine::SetNextFrameCallback(std::function<void()> callback) {
  if (!engine_) return;
  nextFrameCallback_ = std::move(callback);
  FlutterDesktopEngineSetNextFrameCallback(engine_, &FlutterEngine::OnNextFrame, this);
}

void FlutterEngine::OnNextFrame(void* userData) {
  auto* self = static_cast<FlutterEngine*>(userData);
  // Once only: taken out before it runs.
  std::function<void()> callback = std::move(self->nextFrameCallback_);
  self->nextFrameCallback_ = nullptr;
  if (callback) callback();
}

FlutterDesktopEngineRef FlutterEngine::RelinquishEngine() {
  ownsEngine_ = false;
  return engine_;
}

}  // namespace flutter
