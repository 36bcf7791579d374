// Crashes with the host's crash guard while holding the loader's and the heap's locks, which the
// crash dialog needs. Exit code 2: a lock could not be taken.
#include <windows.h>

#include "host/crash_guard.h"

int wmain() {
  kestro::InstallCrashGuard();
  using LockLoaderLock = LONG(NTAPI*)(ULONG flags, ULONG * disposition, ULONG_PTR * cookie);
  // Through void(*)() so that no compiler warns about the function type.
  const auto lock_loader = reinterpret_cast<LockLoaderLock>(reinterpret_cast<void (*)()>(
      ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "LdrLockLoaderLock")));
  ULONG_PTR cookie = 0;
  if (lock_loader == nullptr || lock_loader(0, nullptr, &cookie) != 0 ||
      !::HeapLock(::GetProcessHeap())) {
    return 2;
  }
  volatile int* volatile target = nullptr;
  *target = 1;
  return 0;
}
