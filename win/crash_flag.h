// The process-wide "crashed" flag: set once by the crash path, never cleared, read by any thread
// that must stop doing work once the process's state is unknown. Portable, so the printer bridge
// asks it on every build; windows.h stays out of this header.
#ifndef KESTRO_WIN_CRASH_FLAG_H_
#define KESTRO_WIN_CRASH_FLAG_H_

namespace kestro {

// True once any thread has crashed.
bool HostHasCrashed();

// Marks the process crashed; true for the first caller only.
bool MarkHostCrashed();

// Keeps stack in reserve on the calling thread for the crash path, so a stack overflow still
// reaches it. Called first thing on every thread the process starts; nothing off Windows.
void ReserveCrashStack();

}  // namespace kestro

#endif  // KESTRO_WIN_CRASH_FLAG_H_
