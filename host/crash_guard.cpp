#include "host/crash_guard.h"

#include <atomic>
#include <csignal>
#include <exception>

#include "host/startup_error.h"
#include "win/crash_flag.h"

namespace kestro {

namespace {

std::atomic<DWORD> g_reporting_thread{0};

// Ends the process at once: the engine's threads and locks are in an unknown state, so no
// library clean-up may run.
[[noreturn]] void EndProcess() {
  ::TerminateProcess(::GetCurrentProcess(), 1);
  ::ExitProcess(1);
}

[[noreturn]] void ReportCrashAndExit() {
  const DWORD this_thread = ::GetCurrentThreadId();
  if (MarkHostCrashed()) {
    g_reporting_thread = this_thread;
    ShowStartupError(kNativeCrashDetail);
    EndProcess();
  }
  // A crash inside the dialog itself cannot wait for the dialog.
  if (g_reporting_thread == this_thread) {
    EndProcess();
  }
  // Any other thread waits for the one showing the dialog to end the process.
  for (;;) {
    ::Sleep(INFINITE);
  }
}

// abort() raises SIGABRT on the thread that called it.
void OnAbort(int) { ReportCrashAndExit(); }

}  // namespace

void InstallCrashGuard() {
  ::SetUnhandledExceptionFilter(CrashFilter);
  SetCrashFilter(CrashFilter);
  // A C++ exception that nothing catches ends here without unwinding a frame.
  std::set_terminate(ReportCrashAndExit);
  // MSVC keeps terminate handlers per thread, so on a thread started later (the printer
  // workers) an escaping exception ends in abort(); its signal handler is process-wide.
  std::signal(SIGABRT, OnAbort);
}

LONG WINAPI CrashFilter(EXCEPTION_POINTERS*) { ReportCrashAndExit(); }

}  // namespace kestro
