// The engine's view: a child window the host embeds as its content. Does not own the view.
#ifndef KESTRO_ENGINE_CLIENT_ENGINE_FLUTTER_VIEW_H_
#define KESTRO_ENGINE_CLIENT_ENGINE_FLUTTER_VIEW_H_

#include "engine_client/engine_library/flutter_desktop_api.h"

namespace flutter {

class FlutterView {
 public:
  explicit FlutterView(FlutterDesktopViewRef view) : view_(view) {}
  virtual ~FlutterView() = default;

  FlutterView(const FlutterView&) = delete;
  FlutterView& operator=(const FlutterView&) = delete;

  HWND GetNativeWindow() const { return FlutterDesktopViewGetHWND(view_); }

 private:
  FlutterDesktopViewRef view_;
};

}  // namespace flutter

#endif  // KESTRO_ENGINE_CLIENT_ENGINE_FLUTTER_VIEW_H_
