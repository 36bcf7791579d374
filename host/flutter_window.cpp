#include "host/flutter_window.h"

#include <optional>

#include "engine_client/engine/generated_plugin_registrant.h"
#include "thermal_printer/thermal_printer_plugin.h"

namespace kestro {

FlutterWindow::FlutterWindow(const flutter::EngineProject& project) : project_(project) {}

FlutterWindow::~FlutterWindow() { ReleaseController(); }

bool FlutterWindow::OnCreated() {
  if (!Win32Window::OnCreated()) {
    return false;
  }
  // Physical pixels of the already scaled window, without title bar and borders.
  const RECT frame = ClientArea();
  flutter_controller_ = std::make_unique<flutter::FlutterViewController>(
      frame.right - frame.left, frame.bottom - frame.top, project_);
  if (flutter_controller_->Engine() == nullptr || flutter_controller_->View() == nullptr) {
    return false;
  }
  flutter::FlutterEngine* engine = flutter_controller_->Engine();
  RegisterGeneratedPlugins(engine);
  ThermalPrinterPluginRegisterWithRegistrar(engine->GetPluginRegistrar("ThermalPrinterPlugin"));
  SetContentWindow(flutter_controller_->View()->GetNativeWindow());

  // Shown only once there is something drawn, so the user never sees an empty frame.
  engine->SetNextFrameCallback([this]() { this->Show(); });
  // Makes sure a frame follows even if the first one was drawn before the callback existed.
  flutter_controller_->ForceRedraw();
  return true;
}

void FlutterWindow::OnDestroying() {
  ReleaseController();
  Win32Window::OnDestroying();
}

void FlutterWindow::ReleaseController() {
  if (!flutter_controller_) {
    return;
  }
  // Printer jobs may still finish after this; their replies and events must not reach an
  // engine that is going away.
  StopThermalPrinterEngineCalls();
  std::unique_ptr<flutter::FlutterViewController> controller = std::move(flutter_controller_);
  controller.reset();
}

bool FlutterWindow::ControllerIsRunning() const {
  return flutter_controller_ && flutter_controller_->Engine() != nullptr &&
         flutter_controller_->View() != nullptr;
}

LRESULT FlutterWindow::HandleMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (ControllerIsRunning()) {
    std::optional<LRESULT> result =
        flutter_controller_->HandleTopLevelWindowProc(window, message, wparam, lparam);
    if (result) {
      return *result;
    }
  }
  if (message == WM_FONTCHANGE && ControllerIsRunning()) {
    flutter_controller_->Engine()->ReloadSystemFonts();
  }
  return Win32Window::HandleMessage(window, message, wparam, lparam);
}

}  // namespace kestro
