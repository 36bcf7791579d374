// The process-wide "crashed" flag and the crash filter the process registered. Any thread may
// read or set them.
#ifndef KESTRO_WIN_CRASH_FLAG_H_
#define KESTRO_WIN_CRASH_FLAG_H_

#include <windows.h>

namespace kestro {

// True once any thread has crashed.
bool HostHasCrashed();

// Marks the process crashed; true for the first caller only.
bool MarkHostCrashed();

// The process's crash path as an exception filter; it never returns.
using CrashFilterFunction = LONG(WINAPI*)(EXCEPTION_POINTERS* exception);

// Registers the filter that an exception escaping a window procedure is routed to. Set once,
// before any window exists; until then such an exception takes the platform's own path.
void SetCrashFilter(CrashFilterFunction filter);

// The registered filter, or null.
CrashFilterFunction RegisteredCrashFilter();

}  // namespace kestro

#endif  // KESTRO_WIN_CRASH_FLAG_H_
