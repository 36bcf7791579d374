// Window class registration, the one place the process registers a class. Windows only.
#ifndef KESTRO_WIN_WINDOW_CLASS_H_
#define KESTRO_WIN_WINDOW_CLASS_H_

#include <windows.h>

namespace kestro {

struct WindowClassOptions {
  const wchar_t* name = nullptr;
  WNDPROC procedure = nullptr;
  // The module the class belongs to; null is the executable.
  HINSTANCE instance = nullptr;
  UINT style = 0;
  HICON icon = nullptr;
  HCURSOR cursor = nullptr;
};

// Registers the class; its atom, or 0 with the thread's last error set (ERROR_CLASS_ALREADY_EXISTS
// when the module registered it before).
ATOM RegisterWindowClass(const WindowClassOptions& options);

}  // namespace kestro

#endif  // KESTRO_WIN_WINDOW_CLASS_H_
