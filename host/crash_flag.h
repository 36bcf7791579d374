// The process-wide "crashed" flag, and the one way every host window procedure consults it.
// Windows only; any thread may read or set it.
#ifndef KESTRO_HOST_CRASH_FLAG_H_
#define KESTRO_HOST_CRASH_FLAG_H_

#include <windows.h>

// True once any thread has crashed.
bool HostHasCrashed();

// Marks the process crashed; true for the first caller only.
bool MarkHostCrashed();

// A host window procedure's message route: the part that may reach host objects.
using WindowRoute = LRESULT (*)(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// Every window procedure of the host is written as this call with its own route: after a crash
// the crash dialog's messages (activation and the like) must not reach objects whose state is
// unknown, so DefWindowProcW answers everything.
inline LRESULT RouteUnlessCrashed(WindowRoute route, HWND window, UINT message, WPARAM wparam,
                                  LPARAM lparam) {
  if (HostHasCrashed()) {
    return ::DefWindowProcW(window, message, wparam, lparam);
  }
  return route(window, message, wparam, lparam);
}

#endif  // KESTRO_HOST_CRASH_FLAG_H_
