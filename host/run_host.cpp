#include "host/run_host.h"

#include <windows.h>

#include <objbase.h>

#include <string>
#include <utility>
#include <vector>

#include "engine_client/engine/engine_project.h"
#include "host/command_line.h"
#include "host/flutter_window.h"
#include "host/startup_error.h"
#include "win/scoped_handle.h"

namespace kestro {

namespace {

constexpr wchar_t kSingleInstanceMutex[] = L"Local\\KestroPOS.SingleInstance";
constexpr DWORD kFirstInstanceExitWaitMs = 45000;
constexpr DWORD kWaitSliceMs = 250;

// Restores and activates the first instance's window; false when there is none.
bool ActivateExistingWindow() {
  HWND existing = ::FindWindowW(nullptr, kWindowTitle);
  if (existing == nullptr) return false;
  ::ShowWindow(existing, SW_SHOWNORMAL);
  ::SetForegroundWindow(existing);
  return true;
}

// The mutex is owned by another instance without a window: one still starting, or one whose
// window closed while it finishes a receipt. Waits for it to exit, in slices so a window that
// appears meanwhile is activated; true when this process now owns the mutex.
bool WaitForFirstInstanceToExit(ScopedHandle mutex) {
  const ULONGLONG end = ::GetTickCount64() + kFirstInstanceExitWaitMs;
  for (ULONGLONG now = ::GetTickCount64(); now < end; now = ::GetTickCount64()) {
    const DWORD slice = static_cast<DWORD>(end - now < kWaitSliceMs ? end - now : kWaitSliceMs);
    const DWORD waited = ::WaitForSingleObject(mutex.Get(), slice);
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) {
      // Deliberately never closed, as the first instance's.
      static_cast<void>(mutex.Release());
      return true;
    }
    if (waited != WAIT_TIMEOUT) break;
    if (ActivateExistingWindow()) return false;
  }
  ShowStartupError(kAlreadyRunningDetail);
  return false;
}

// True when this process is the one instance, owning the mutex for its whole life; otherwise
// the other instance has been restored and activated, or the user has been told.
bool BecomeTheOnlyInstance() {
  HANDLE mutex = ::CreateMutexW(nullptr, TRUE, kSingleInstanceMutex);
  if (mutex == nullptr || ::GetLastError() != ERROR_ALREADY_EXISTS) {
    // Deliberately never closed: the system releases the mutex at exit, and closing it earlier
    // would let a second instance start while this one still prints.
    return true;
  }
  ScopedHandle second_instance_mutex(mutex);
  // A second instance that finds the window lets go at once, so the name goes with the first.
  if (ActivateExistingWindow()) return false;
  return WaitForFirstInstanceToExit(std::move(second_instance_mutex));
}

}  // namespace

int RunHost() {
  if (!BecomeTheOnlyInstance()) {
    return 0;
  }
  // A parent console serves as is; only a debugger without one gets a console of its own.
  if (!::AttachConsole(ATTACH_PARENT_PROCESS) && ::IsDebuggerPresent()) {
    OpenDebugConsole();
  }
  ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

  flutter::EngineProject project(L"data");
  std::vector<std::string> arguments = CommandLineArgumentsUtf8();
  project.set_dart_entrypoint_arguments(std::move(arguments));

  FlutterWindow window(project);
  if (!window.Create(kWindowTitle, Win32Window::Point(10, 10), Win32Window::Size(1280, 720))) {
    ShowStartupError(kWindowCreationDetail);
    ::CoUninitialize();
    return 1;
  }
  window.SetQuitWhenClosed(true);

  MSG message;
  while (::GetMessageW(&message, nullptr, 0, 0)) {
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  ::CoUninitialize();
  return 0;
}

}  // namespace kestro
