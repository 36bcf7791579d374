// The one way every window procedure of the process is written: WindowProcedure<route> is the
// procedure a window class registers, and `route` is the part that may reach the process's
// objects. Windows only; on the thread that owns the window.
#ifndef KESTRO_WIN_WINDOW_PROCEDURE_H_
#define KESTRO_WIN_WINDOW_PROCEDURE_H_

#include <windows.h>

namespace kestro {

using WindowRoute = LRESULT (*)(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// After a crash DefWindowProcW answers every message: the crash dialog's messages (activation
// and the like) must not reach objects whose state is unknown. Under MSVC a structured
// exception escaping `route` takes the registered crash filter, which 64-bit Windows could
// otherwise swallow at the callback boundary.
LRESULT RouteWindowMessage(WindowRoute route, HWND window, UINT message, WPARAM wparam,
                           LPARAM lparam);

template <WindowRoute route>
LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  return RouteWindowMessage(route, window, message, wparam, lparam);
}

}  // namespace kestro

#endif  // KESTRO_WIN_WINDOW_PROCEDURE_H_
