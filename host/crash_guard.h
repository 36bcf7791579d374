// The process's one crash path, the same for every thread and both compilers: the first crash
// marks the process crashed, hides the application's windows and has the reporter thread show
// the crash dialog, then ends the process with exit code 1, without unwinding or clean-up. The
// crashed thread blocks without pumping messages; a dialog not up within 10 s ends the process
// without it, and every later crash blocks its thread.
#ifndef KESTRO_HOST_CRASH_GUARD_H_
#define KESTRO_HOST_CRASH_GUARD_H_

#include <windows.h>

namespace kestro {

// Starts the reporter thread, installs the process-wide unhandled-exception filter and the
// terminate, abort (and, with MSVC, invalid-parameter and pure-call) handlers, and registers the
// crash filter for exceptions escaping a window procedure. Called first thing on the main
// thread, before any other thread or window exists.
void InstallCrashGuard();

// The crash path as an exception filter; never returns. Also the filter of the main thread's
// structured-exception fallback, which then never unwinds a frame.
LONG WINAPI CrashFilter(EXCEPTION_POINTERS* exception);

}  // namespace kestro

#endif  // KESTRO_HOST_CRASH_GUARD_H_
