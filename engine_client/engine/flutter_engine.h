// One engine instance of the engine library, its binary messenger, plug-in registrars, font
// reload and the next-frame callback. UI thread only.
#ifndef KESTRO_ENGINE_CLIENT_ENGINE_FLUTTER_ENGINE_H_
#define KESTRO_ENGINE_CLIENT_ENGINE_FLUTTER_ENGINE_H_

#include <functional>
#include <memory>
#include <string>

#include "engine_client/engine/engine_project.h"
#include "engine_client/engine/plugin_registry.h"
#include "engine_client/engine_library/flutter_desktop_api.h"
#include "engine_client/messaging/binary_messenger_impl.h"

namespace flutter {

class FlutterEngine : public PluginRegistry {
 public:
  // Creates the engine from the project; engine() is null when the engine library refused
  // (for example a missing or incomplete bundle).
  explicit FlutterEngine(const EngineProject& project);
  // Destroys the engine only while this wrapper still owns it.
  ~FlutterEngine() override;

  FlutterEngine(const FlutterEngine&) = delete;
  FlutterEngine& operator=(const FlutterEngine&) = delete;

  // Null with a line on stderr when the engine is not running.
  FlutterDesktopPluginRegistrarRef GetPluginRegistrar(const std::string& plugin_name) override;

  // Hands the engine to a view controller; the handle stays usable for registrars, fonts and
  // frame callbacks, but this wrapper no longer destroys it.
  FlutterDesktopEngineRef ReleaseEngineOwnership();

  void ReloadSystemFonts();

  // Runs `callback` once, on the UI thread, after the engine's next frame. Replaces (without
  // running) a callback installed earlier that has not run yet.
  void SetNextFrameCallback(std::function<void()> callback);

  FlutterDesktopEngineRef engine() const { return engine_; }
  BinaryMessenger* messenger() const { return messenger_.get(); }

 private:
  static void OnNextFrame(void* user_data);

  FlutterDesktopEngineRef engine_ = nullptr;
  std::unique_ptr<BinaryMessengerImpl> messenger_;
  bool owns_engine_ = true;
  std::function<void()> next_frame_callback_;
};

}  // namespace flutter

#endif  // KESTRO_ENGINE_CLIENT_ENGINE_FLUTTER_ENGINE_H_
