// The engine library's view controller: creates the engine, takes ownership of it and hosts
// its view. Destroying the controller ends the engine. UI thread only.
#ifndef KESTRO_ENGINE_CLIENT_ENGINE_FLUTTER_VIEW_CONTROLLER_H_
#define KESTRO_ENGINE_CLIENT_ENGINE_FLUTTER_VIEW_CONTROLLER_H_

#include <memory>
#include <optional>

#include "engine_client/engine/engine_project.h"
#include "engine_client/engine/flutter_engine.h"
#include "engine_client/engine/flutter_view.h"
#include "engine_client/engine_library/flutter_desktop_api.h"

namespace flutter {

class FlutterViewController {
 public:
  // Width and height in physical pixels. On failure View() is null and a line is written to
  // stderr; the engine wrapper stays, owning no engine.
  FlutterViewController(int width, int height, const EngineProject& project);
  virtual ~FlutterViewController();

  FlutterViewController(const FlutterViewController&) = delete;
  FlutterViewController& operator=(const FlutterViewController&) = delete;

  FlutterEngine* Engine() const { return engine_.get(); }
  FlutterView* View() const { return view_.get(); }

  void ForceRedraw();

  // The engine library's result when it handled the message, otherwise nothing.
  std::optional<LRESULT> HandleTopLevelWindowProc(HWND window, UINT message, WPARAM wparam,
                                                  LPARAM lparam);

 private:
  FlutterDesktopViewControllerRef controller_ = nullptr;
  std::shared_ptr<FlutterEngine> engine_;
  std::unique_ptr<FlutterView> view_;
};

}  // namespace flutter

#endif  // KESTRO_ENGINE_CLIENT_ENGINE_FLUTTER_VIEW_CONTROLLER_H_
