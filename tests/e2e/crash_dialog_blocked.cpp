// A process with the host's crash guard that crashes on its main thread while holding the
// loader's and the process heap's locks, which the crash dialog needs: the guard must end it
// with exit code 1 without the dialog. Exit codes 2 and 3: a lock could not be taken.
#include <windows.h>

#include "host/crash_guard.h"

int wmain() {
  kestro::InstallCrashGuard();
  using LockLoaderLock = LONG(NTAPI*)(ULONG flags, ULONG * disposition, ULONG_PTR * cookie);
  // Through void(*)() so that no compiler warns about the function type.
  const auto lock_loader = reinterpret_cast<LockLoaderLock>(reinterpret_cast<void (*)()>(
      ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "LdrLockLoaderLock")));
  ULONG_PTR cookie = 0;
  if (lock_loader == nullptr || lock_loader(0, nullptr, &cookie) != 0) return 2;
  if (!::HeapLock(::GetProcessHeap())) return 3;
  volatile int* volatile target = nullptr;
  *target = 1;
  return 0;
}
