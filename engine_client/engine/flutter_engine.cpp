#include "engine_client/engine/flutter_engine.h"

#include <vector>

#include "engine_client/codec/stderr_line.h"

namespace flutter {

FlutterEngine::FlutterEngine(const EngineProject& project) {
  const std::vector<std::string>& arguments = project.dart_entrypoint_arguments();
  // The engine copies what it keeps during the create call, so pointers into the project suffice.
  std::vector<const char*> argv;
  argv.reserve(arguments.size());
  for (const std::string& argument : arguments) {
    argv.push_back(argument.c_str());
  }

  FlutterDesktopEngineProperties properties{};
  properties.assets_path = project.assets_path().c_str();
  properties.icu_data_path = project.icu_data_path().c_str();
  properties.aot_library_path = project.aot_library_path().c_str();
  properties.dart_entrypoint = project.dart_entrypoint().c_str();
  properties.dart_entrypoint_argc = static_cast<int32_t>(argv.size());
  properties.dart_entrypoint_argv = argv.empty() ? nullptr : argv.data();
  for (size_t i = 0; i < project.option_values().size(); ++i) {
    properties.option_values[i] = project.option_values()[i];
  }

  engine_ = FlutterDesktopEngineCreate(&properties);
  if (engine_ != nullptr) {
    messenger_ = std::make_unique<BinaryMessengerImpl>(FlutterDesktopEngineGetMessenger(engine_));
  }
}

FlutterEngine::~FlutterEngine() {
  if (engine_ != nullptr && owns_engine_) {
    FlutterDesktopEngineDestroy(engine_);
  }
  engine_ = nullptr;
}

FlutterDesktopPluginRegistrarRef FlutterEngine::GetPluginRegistrar(const std::string& plugin_name) {
  if (engine_ == nullptr) {
    kestro::WriteStderrLine(
        "Cannot get plugin registrar on an engine that isn't running; call Run first.");
    return nullptr;
  }
  return FlutterDesktopEngineGetPluginRegistrar(engine_, plugin_name.c_str());
}

FlutterDesktopEngineRef FlutterEngine::ReleaseEngineOwnership() {
  owns_engine_ = false;
  return engine_;
}

void FlutterEngine::ReloadSystemFonts() { FlutterDesktopEngineReloadSystemFonts(engine_); }

void FlutterEngine::SetNextFrameCallback(std::function<void()> callback) {
  // A callback that never ran is destroyed before its replacement moves in.
  next_frame_callback_ = nullptr;
  next_frame_callback_ = std::move(callback);
  FlutterDesktopEngineSetNextFrameCallback(engine_, &FlutterEngine::OnNextFrame, this);
}

void FlutterEngine::OnNextFrame(void* user_data) {
  auto* self = static_cast<FlutterEngine*>(user_data);
  if (self->next_frame_callback_) {
    self->next_frame_callback_();
  }
  // Emptied after running so one installation runs at most once.
  self->next_frame_callback_ = nullptr;
}

}  // namespace flutter
