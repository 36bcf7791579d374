// The Windows hand-off: tasks wait in the queue, and one posted message at a time wakes the
// message-only window on the UI thread to run them. A message per task could overflow the
// thread's posted-message limit (10 000) during a burst of log events and lose a reply.
#include <windows.h>

#include <atomic>
#include <memory>
#include <utility>

#include "thermal_printer/ui_thread_handoff.h"
#include "win/message_only_window.h"
#include "win/window_procedure.h"

namespace kestro {
namespace {

constexpr wchar_t kWindowClass[] = L"KESTRO_PRINTER_BRIDGE_HANDOFF";
constexpr UINT kTasksWaitingMessage = WM_APP + 0x50;

class WindowUiThreadHandoff : public QueuedUiThreadHandoff {
 public:
  WindowUiThreadHandoff() = default;
  // Tasks still queued are destroyed unrun with the queue.
  ~WindowUiThreadHandoff() override = default;
  WindowUiThreadHandoff(const WindowUiThreadHandoff&) = delete;
  WindowUiThreadHandoff& operator=(const WindowUiThreadHandoff&) = delete;

  bool Create() { return window_.Create(kWindowClass, WindowProcedure<Route>, this); }

  void Post(Task task) override {
    QueuedUiThreadHandoff::Post(std::move(task));
    if (wake_posted_.exchange(true)) return;
    // A failed post (the window is gone: 1400) leaves the tasks queued; they are freed with the
    // hand-off. Any other failure is retried by the next task.
    if (!window_.Post(kTasksWaitingMessage, 0, 0)) wake_posted_ = false;
  }

 private:
  // Through WindowProcedure, so after a crash nothing queued here runs: the engine and the host
  // are in an unknown state.
  static LRESULT Route(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message != kTasksWaitingMessage) return DefWindowProcW(window, message, wparam, lparam);
    auto* self = static_cast<WindowUiThreadHandoff*>(MessageOnlyWindow::UserData(window));
    if (self == nullptr) return 0;
    // Cleared first, so a task queued while these run posts a new wake-up.
    self->wake_posted_ = false;
    self->Drain();
    return 0;
  }

  std::atomic<bool> wake_posted_{false};
  // Last, so the window goes before anything its procedure reads.
  MessageOnlyWindow window_;
};

}  // namespace

std::unique_ptr<UiThreadHandoff> NewWindowUiThreadHandoff() {
  auto handoff = std::make_unique<WindowUiThreadHandoff>();
  if (!handoff->Create()) return nullptr;
  return handoff;
}

}  // namespace kestro
