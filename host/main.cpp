// Process entry: runs the host inside a guard that turns any native crash into the crash
// dialog and exit code 1.
#include <windows.h>

#include <exception>

#include "host/run_host.h"
#include "host/startup_error.h"

#ifndef _MSC_VER
namespace {

// Reports the crash once and ends the process at once: the engine's threads and locks are in
// an unknown state, so no library clean-up runs.
[[noreturn]] void ReportCrashAndExit() {
  static LONG reporting = 0;
  if (::InterlockedExchange(&reporting, 1) == 0) {
    ShowStartupError(kNativeCrashDetail);
  }
  ::TerminateProcess(::GetCurrentProcess(), 1);
  ::ExitProcess(1);
}

// Structured exceptions (access violations and the like) that nothing handled, on any frame
// of the main thread, the message loop's window procedures included.
LONG WINAPI CrashFilter(EXCEPTION_POINTERS*) { ReportCrashAndExit(); }

}  // namespace
#endif

int APIENTRY wWinMain(HINSTANCE, HINSTANCE, wchar_t*, int) {
#ifdef _MSC_VER
  __try {
    return RunHost();
  } __except (EXCEPTION_EXECUTE_HANDLER) {
    ShowStartupError(kNativeCrashDetail);
    return 1;
  }
#else
  // GCC has no __try; an unhandled-exception filter sees what __except would, and a C++
  // exception that cannot reach the catch below (thrown through system frames) terminates.
  ::SetUnhandledExceptionFilter(CrashFilter);
  std::set_terminate(ReportCrashAndExit);
  try {
    return RunHost();
  } catch (...) {
    ShowStartupError(kNativeCrashDetail);
    return 1;
  }
#endif
}
