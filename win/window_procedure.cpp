#include "win/window_procedure.h"

#include "win/crash_filter.h"
#include "win/crash_flag.h"

namespace kestro {
namespace {

#ifdef _MSC_VER
// The filter never returns once a crash filter is registered.
LONG FilterEscapingException(EXCEPTION_POINTERS* exception) {
  const CrashFilterFunction filter = RegisteredCrashFilter();
  return filter != nullptr ? filter(exception) : EXCEPTION_CONTINUE_SEARCH;
}
#endif

// Kept apart because a function with __try may hold only trivially destructible locals.
LRESULT CallRoute(WindowRoute route, HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
#ifdef _MSC_VER
  __try {
    return route(window, message, wparam, lparam);
  } __except (FilterEscapingException(GetExceptionInformation())) {
    return 0;
  }
#else
  return route(window, message, wparam, lparam);
#endif
}

}  // namespace

LRESULT RouteWindowMessage(WindowRoute route, HWND window, UINT message, WPARAM wparam,
                           LPARAM lparam) {
  if (HostHasCrashed()) {
    return ::DefWindowProcW(window, message, wparam, lparam);
  }
  return CallRoute(route, window, message, wparam, lparam);
}

}  // namespace kestro
