#include "engine_client/engine/flutter_view_controller.h"

#include "engine_client/codec/stderr_line.h"

namespace flutter {

FlutterViewController::FlutterViewController(int width, int height, const EngineProject& project)
    : engine_(std::make_shared<FlutterEngine>(project)) {
  if (engine_->engine() != nullptr) {
    controller_ =
        FlutterDesktopViewControllerCreate(width, height, engine_->ReleaseEngineOwnership());
  }
  if (controller_ == nullptr) {
    kestro::WriteStderrLine("Failed to create view controller.");
    return;
  }
  view_ = std::make_unique<FlutterView>(FlutterDesktopViewControllerGetView(controller_));
}

FlutterViewController::~FlutterViewController() {
  if (controller_ != nullptr) {
    FlutterDesktopViewControllerDestroy(controller_);
  }
  view_.reset();
  engine_.reset();
}

void FlutterViewController::ForceRedraw() { FlutterDesktopViewControllerForceRedraw(controller_); }

std::optional<LRESULT> FlutterViewController::HandleTopLevelWindowProc(HWND window, UINT message,
                                                                       WPARAM wparam,
                                                                       LPARAM lparam) {
  LRESULT result = 0;
  if (!FlutterDesktopViewControllerHandleTopLevelWindowProc(controller_, window, message, wparam,
                                                            lparam, &result)) {
    return std::nullopt;
  }
  return result;
}

}  // namespace flutter
