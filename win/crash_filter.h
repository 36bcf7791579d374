// The crash filter the process registered, for exceptions escaping a window procedure. Any
// thread may read it.
#ifndef KESTRO_WIN_CRASH_FILTER_H_
#define KESTRO_WIN_CRASH_FILTER_H_

#include <windows.h>

namespace kestro {

// The process's crash path as an exception filter; it never returns.
using CrashFilterFunction = LONG(WINAPI*)(EXCEPTION_POINTERS* exception);

// Registers the filter that an exception escaping a window procedure is routed to. Set once,
// before any window exists; until then such an exception takes the platform's own path.
void SetCrashFilter(CrashFilterFunction filter);

// The registered filter, or null.
CrashFilterFunction RegisteredCrashFilter();

}  // namespace kestro

#endif  // KESTRO_WIN_CRASH_FILTER_H_
