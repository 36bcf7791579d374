#include "host/crash_guard.h"

#include <stdlib.h>

#include <atomic>
#include <csignal>
#include <exception>

#include "host/startup_error.h"
#include "win/crash_filter.h"
#include "win/crash_flag.h"
#include "win/scoped_handle.h"

namespace kestro {

namespace {

// A crashed thread may hold a lock the dialog needs (the heap's, the loader's); past this the
// process ends without the dialog rather than keep the single-instance mutex for ever.
constexpr DWORD kDialogDeadlineMs = 10000;

// Created before any other thread exists and never closed: the reporter waits on the first while
// static destructors run at exit, and a crash then must still find both.
HANDLE g_crash_signal = nullptr;  // set by the first crashed thread: the reporter shows the dialog
HANDLE g_dialog_up = nullptr;     // set from inside the dialog's modal loop
std::atomic<DWORD> g_reporter_thread{0};
// The crashed thread showing the dialog itself, when there is no reporter thread.
std::atomic<DWORD> g_dialog_thread{0};

// Ends the process at once: the engine's threads and locks are in an unknown state, so no
// library clean-up may run.
[[noreturn]] void EndProcess() {
  ::TerminateProcess(::GetCurrentProcess(), 1);
  ::ExitProcess(1);
}

// Sleep pumps no messages, so nothing re-enters a crashed thread while it waits.
[[noreturn]] void BlockForever() {
  for (;;) {
    ::Sleep(INFINITE);
  }
}

BOOL CALLBACK HideIfOurs(HWND window, LPARAM) {
  DWORD process = 0;
  ::GetWindowThreadProcessId(window, &process);
  // Async: the window's own thread may be the crashed one, which never answers again.
  if (process == ::GetCurrentProcessId() && ::IsWindowVisible(window)) {
    ::ShowWindowAsync(window, SW_HIDE);
  }
  return TRUE;
}

VOID CALLBACK OnDialogUp(HWND, UINT, UINT_PTR timer, DWORD) {
  ::KillTimer(nullptr, timer);
  ::SetEvent(g_dialog_up);
}

// The cashier must not go on ringing up sales behind the dialog in a process whose printing has
// stopped, so the application's windows go first.
[[noreturn]] void ShowCrashDialogAndExit() {
  ::EnumWindows(HideIfOurs, 0);
  // A thread timer is dispatched only by a message loop, and the message box's is the only one
  // on this thread: when it fires, the dialog is up.
  ::SetTimer(nullptr, 0, USER_TIMER_MINIMUM, OnDialogUp);
  ShowStartupError(kNativeCrashDetail);
  EndProcess();
}

DWORD WINAPI ReporterMain(void*) {
  if (::WaitForSingleObject(g_crash_signal, INFINITE) != WAIT_OBJECT_0) return 0;
  ShowCrashDialogAndExit();
}

[[noreturn]] void ReportCrashAndExit() {
  const DWORD this_thread = ::GetCurrentThreadId();
  // A crash while showing the dialog cannot wait for it.
  if (this_thread == g_reporter_thread || this_thread == g_dialog_thread) EndProcess();
  // One dialog: every later crash waits for the first one's to end the process.
  if (!MarkHostCrashed()) BlockForever();
  if (g_reporter_thread == 0) {
    g_dialog_thread = this_thread;
    ShowCrashDialogAndExit();
  }
  ::SetEvent(g_crash_signal);
  if (::WaitForSingleObject(g_dialog_up, kDialogDeadlineMs) != WAIT_OBJECT_0) EndProcess();
  BlockForever();
}

void OnAbort(int) {
  // The C runtime resets the handler before calling it; a second abort must find it again.
  std::signal(SIGABRT, OnAbort);
  ReportCrashAndExit();
}

#ifdef _MSC_VER
void __cdecl OnInvalidParameter(const wchar_t*, const wchar_t*, const wchar_t*, unsigned int,
                                uintptr_t) {
  ReportCrashAndExit();
}

void __cdecl OnPureCall() { ReportCrashAndExit(); }
#endif

void StartReporterThread() {
  g_crash_signal = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  g_dialog_up = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (g_crash_signal == nullptr || g_dialog_up == nullptr) return;
  // The one thread no owner joins: it waits for a crash for the life of the process and then
  // ends it. Its handle is not needed to do so.
  DWORD id = 0;
  ScopedHandle reporter(::CreateThread(nullptr, 0, ReporterMain, nullptr, 0, &id));
  if (reporter.IsValid()) g_reporter_thread = id;
}

}  // namespace

void InstallCrashGuard() {
  ReserveCrashStack();
  StartReporterThread();
  ::SetUnhandledExceptionFilter(CrashFilter);
  SetCrashFilter(CrashFilter);
  // A C++ exception that nothing catches ends here without unwinding a frame.
  std::set_terminate(ReportCrashAndExit);
  // MSVC keeps terminate handlers per thread, so on a thread started later (the printer
  // workers) an escaping exception ends in abort(); its signal handler is process-wide.
  std::signal(SIGABRT, OnAbort);
#ifdef _MSC_VER
  // Otherwise the C runtime ends the process on these without a dialog.
  _set_invalid_parameter_handler(OnInvalidParameter);
  _set_purecall_handler(OnPureCall);
#endif
}

LONG WINAPI CrashFilter(EXCEPTION_POINTERS*) { ReportCrashAndExit(); }

}  // namespace kestro
