// The Windows hand-off: tasks wait in the queue, and one posted message at a time wakes the
// message-only window on the UI thread to run them. A message per task could overflow the
// thread's posted-message limit (10 000) during a burst of log events and lose a reply.
#include <windows.h>

#include <atomic>
#include <memory>
#include <utility>

#include "host/crash_flag.h"
#include "thermal_printer/ui_thread_handoff.h"

namespace kestro {
namespace {

constexpr wchar_t kWindowClass[] = L"KESTRO_PRINTER_BRIDGE_HANDOFF";
constexpr UINT kTasksWaitingMessage = WM_APP + 0x50;

class WindowUiThreadHandoff : public QueuedUiThreadHandoff {
 public:
  WindowUiThreadHandoff() = default;
  // Tasks still queued are destroyed unrun with the queue.
  ~WindowUiThreadHandoff() override {
    if (window_ != nullptr) DestroyWindow(window_);
  }
  WindowUiThreadHandoff(const WindowUiThreadHandoff&) = delete;
  WindowUiThreadHandoff& operator=(const WindowUiThreadHandoff&) = delete;

  bool Create() {
    WNDCLASSEXW window_class = {};
    window_class.cbSize = sizeof(window_class);
    window_class.lpfnWndProc = WindowProcedure;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.lpszClassName = kWindowClass;
    if (RegisterClassExW(&window_class) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
      return false;
    }
    window_ = CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              GetModuleHandleW(nullptr), nullptr);
    if (window_ == nullptr) return false;
    SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    return true;
  }

  void Post(Task task) override {
    QueuedUiThreadHandoff::Post(std::move(task));
    if (wake_posted_.exchange(true)) return;
    // A failed post (the window is gone: 1400) leaves the tasks queued; they are freed with the
    // hand-off. Any other failure is retried by the next task.
    if (!PostMessageW(window_, kTasksWaitingMessage, 0, 0)) wake_posted_ = false;
  }

 private:
  // After a crash nothing queued here runs: the engine and the host are in an unknown state.
  static LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    return RouteUnlessCrashed(Route, window, message, wparam, lparam);
  }

  static LRESULT Route(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message != kTasksWaitingMessage) return DefWindowProcW(window, message, wparam, lparam);
    auto* self = reinterpret_cast<WindowUiThreadHandoff*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self == nullptr) return 0;
    // Cleared first, so a task queued while these run posts a new wake-up.
    self->wake_posted_ = false;
    self->Drain();
    return 0;
  }

  HWND window_ = nullptr;
  std::atomic<bool> wake_posted_{false};
};

}  // namespace

std::unique_ptr<UiThreadHandoff> NewWindowUiThreadHandoff() {
  auto handoff = std::make_unique<WindowUiThreadHandoff>();
  if (!handoff->Create()) return nullptr;
  return handoff;
}

}  // namespace kestro
