#include "host/run_host.h"

#include <windows.h>

#include <objbase.h>

#include <string>
#include <vector>

#include "engine_client/engine/engine_project.h"
#include "host/command_line.h"
#include "host/flutter_window.h"
#include "host/startup_error.h"
#include "win/scoped_handle.h"

namespace kestro {

namespace {

constexpr wchar_t kSingleInstanceMutex[] = L"Local\\KestroPOS.SingleInstance";

// Creates the single-instance mutex; false when another instance already owns it.
bool IsFirstInstance() {
  HANDLE mutex = ::CreateMutexW(nullptr, TRUE, kSingleInstanceMutex);
  if (mutex == nullptr || ::GetLastError() != ERROR_ALREADY_EXISTS) {
    // Deliberately never closed: the system releases the mutex at exit, and closing it earlier
    // would let a second instance start while this one still prints.
    return true;
  }
  // A second instance lets go at once, so the name goes with the first instance.
  const ScopedHandle second_instance_mutex(mutex);
  return false;
}

// True when another instance owns the mutex; it has then been restored and activated, or the
// user has been told.
bool AnotherInstanceIsRunning() {
  if (IsFirstInstance()) {
    return false;
  }
  HWND existing = ::FindWindowW(nullptr, kWindowTitle);
  if (existing != nullptr) {
    ::ShowWindow(existing, SW_SHOWNORMAL);
    ::SetForegroundWindow(existing);
  } else {
    ShowStartupError(kAlreadyRunningDetail);
  }
  return true;
}

}  // namespace

int RunHost() {
  if (AnotherInstanceIsRunning()) {
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
