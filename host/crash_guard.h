// The process's one crash path, the same for every thread and both compilers: the first crash
// marks the process crashed, shows the crash dialog and ends the process with exit code 1,
// without unwinding and without any clean-up.
#ifndef KESTRO_HOST_CRASH_GUARD_H_
#define KESTRO_HOST_CRASH_GUARD_H_

#include <windows.h>

// Installs the process-wide unhandled-exception filter and terminate handler. Called first thing
// on the main thread, before any other thread exists.
void InstallCrashGuard();

// The crash path as an exception filter; never returns. Also the filter of the main thread's
// structured-exception fallback, which then never unwinds a frame.
LONG WINAPI CrashFilter(EXCEPTION_POINTERS* exception);

// True once any thread has crashed. Any thread may ask.
bool HostHasCrashed();

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

#endif  // KESTRO_HOST_CRASH_GUARD_H_
