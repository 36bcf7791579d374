// The process's one crash path, the same for every thread and both compilers: the first crash
// marks the process crashed, shows the crash dialog and ends the process with exit code 1,
// without unwinding and without any clean-up.
#ifndef KESTRO_HOST_CRASH_GUARD_H_
#define KESTRO_HOST_CRASH_GUARD_H_

#include <windows.h>

namespace kestro {

// Installs the process-wide unhandled-exception filter and terminate handler, and registers the
// crash filter for exceptions escaping a window procedure. Called first thing on the main
// thread, before any other thread or window exists.
void InstallCrashGuard();

// The crash path as an exception filter; never returns. Also the filter of the main thread's
// structured-exception fallback, which then never unwinds a frame.
LONG WINAPI CrashFilter(EXCEPTION_POINTERS* exception);

}  // namespace kestro

#endif  // KESTRO_HOST_CRASH_GUARD_H_
