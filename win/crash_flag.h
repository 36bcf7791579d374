// The process-wide "crashed" flag: set once by the crash path, never cleared, read by any thread
// that must stop doing work once the process's state is unknown. Portable, so the printer bridge
// asks it on every build.
#ifndef KESTRO_WIN_CRASH_FLAG_H_
#define KESTRO_WIN_CRASH_FLAG_H_

namespace kestro {

// True once any thread has crashed.
bool HostHasCrashed();

// Marks the process crashed; true for the first caller only.
bool MarkHostCrashed();

}  // namespace kestro

#endif  // KESTRO_WIN_CRASH_FLAG_H_
