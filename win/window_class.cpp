#include "win/window_class.h"

namespace kestro {

ATOM RegisterWindowClass(const WindowClassSpec& spec) {
  WNDCLASSEXW window_class = {};
  window_class.cbSize = sizeof(window_class);
  window_class.style = spec.style;
  window_class.lpfnWndProc = spec.procedure;
  window_class.hInstance = spec.instance != nullptr ? spec.instance : ::GetModuleHandleW(nullptr);
  window_class.hIcon = spec.icon;
  window_class.hCursor = spec.cursor;
  window_class.lpszClassName = spec.name;
  return ::RegisterClassExW(&window_class);
}

}  // namespace kestro
