#include "win/window_class.h"

namespace kestro {

ATOM RegisterWindowClass(const WindowClassOptions& options) {
  WNDCLASSEXW window_class = {};
  window_class.cbSize = sizeof(window_class);
  window_class.style = options.style;
  window_class.lpfnWndProc = options.procedure;
  window_class.hInstance =
      options.instance != nullptr ? options.instance : ::GetModuleHandleW(nullptr);
  window_class.hIcon = options.icon;
  window_class.hCursor = options.cursor;
  window_class.lpszClassName = options.name;
  return ::RegisterClassExW(&window_class);
}

}  // namespace kestro
