// The application window: hosts the Flutter view, registers every plug-in, shows itself after
// the engine's first frame, and gives the engine the first look at each window message.
#ifndef KESTRO_HOST_FLUTTER_WINDOW_H_
#define KESTRO_HOST_FLUTTER_WINDOW_H_

#include <memory>

#include "engine_client/engine/engine_project.h"
#include "engine_client/engine/flutter_view_controller.h"
#include "host/win32_window.h"

namespace kestro {

class FlutterWindow : public Win32Window {
 public:
  // Keeps its own copy of the project.
  explicit FlutterWindow(const flutter::EngineProject& project);
  ~FlutterWindow() override;

 protected:
  LRESULT HandleMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam) override;
  // False when the engine or its view could not be created; no plug-in is registered then.
  bool OnCreated() override;
  // Drops the view controller, which ends the engine; later calls do nothing.
  void OnDestroying() override;

 private:
  // A controller that failed to start is kept until destruction, but its null or spent handles
  // must never reach the engine library: only a running one is offered messages.
  bool ControllerIsRunning() const;
  // Stops the printer bridge's engine calls, then destroys the view controller if one is held.
  void ReleaseController();

  flutter::EngineProject project_;
  std::unique_ptr<flutter::FlutterViewController> flutter_controller_;
};

}  // namespace kestro

#endif  // KESTRO_HOST_FLUTTER_WINDOW_H_
