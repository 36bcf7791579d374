#include "win/crash_flag.h"

#ifdef _WIN32
#include <windows.h>
#endif

#include <atomic>

namespace kestro {
namespace {

// Lock-free, so a crashed thread holding any lock can still set it.
std::atomic<bool> g_crashed{false};

}  // namespace

bool HostHasCrashed() { return g_crashed.load(); }

bool MarkHostCrashed() { return !g_crashed.exchange(true); }

void ReserveCrashStack() {
#ifdef _WIN32
  // Enough for the filter to signal the reporter thread and wait for it.
  ULONG reserve = 64 * 1024;
  ::SetThreadStackGuarantee(&reserve);
#endif
}

}  // namespace kestro
