// The Windows hand-off: tasks wait in the queue, and one wake-up at a time (a posted message or a
// timer) brings the message-only window on the UI thread to run a slice of them. A message per
// task could overflow the thread's posted-message limit (10 000) during a burst of log events and
// lose a reply.
#include <windows.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <utility>

#include "thermal_printer/ui_thread_handoff.h"
#include "win/message_only_window.h"
#include "win/window_procedure.h"

namespace kestro {
namespace {

constexpr wchar_t kWindowClass[] = L"KESTRO_PRINTER_BRIDGE_HANDOFF";
constexpr UINT kTasksWaitingMessage = WM_APP + 0x50;
constexpr UINT_PTR kResumeTimer = 1;
constexpr UINT_PTR kLostWakeUpTimer = 2;
constexpr UINT kLostWakeUpRetryMs = 100;

class WindowUiThreadHandoff : public QueuedUiThreadHandoff {
 public:
  WindowUiThreadHandoff() = default;
  // Tasks still queued are destroyed unrun with the queue.
  ~WindowUiThreadHandoff() override = default;
  WindowUiThreadHandoff(const WindowUiThreadHandoff&) = delete;
  WindowUiThreadHandoff& operator=(const WindowUiThreadHandoff&) = delete;

  bool Create() {
    if (!window_.Create(kWindowClass, WindowProcedure<Route>, this)) return false;
    // A wake-up refused by a full posted-message quota is retried from here: only this thread may
    // set a timer on its window, and a timer takes no room in that quota.
    return ::SetTimer(window_.handle(), kLostWakeUpTimer, kLostWakeUpRetryMs, nullptr) != 0;
  }

  void Post(Task task) override {
    QueuedUiThreadHandoff::Post(std::move(task));
    if (!wake_pending_.exchange(true)) PostWakeUp();
  }

 private:
  // Any thread. A window already gone (1400) leaves the tasks queued; they are freed with the
  // hand-off.
  void PostWakeUp() {
    if (window_.Post(kTasksWaitingMessage, 0, 0)) return;
    if (::GetLastError() != ERROR_INVALID_WINDOW_HANDLE) wake_lost_ = true;
  }

  // Through WindowProcedure, so after a crash nothing queued here runs: the engine and the host
  // are in an unknown state.
  static LRESULT Route(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    auto* self = static_cast<WindowUiThreadHandoff*>(MessageOnlyWindow::UserData(window));
    const bool lost_wake_up_timer = message == WM_TIMER && wparam == kLostWakeUpTimer;
    const bool wake_up =
        message == kTasksWaitingMessage || (message == WM_TIMER && wparam == kResumeTimer) ||
        (lost_wake_up_timer && self != nullptr && self->wake_lost_.exchange(false));
    if (wake_up && self != nullptr) self->RunSlice();
    if (wake_up || lost_wake_up_timer) return 0;
    return DefWindowProcW(window, message, wparam, lparam);
  }

  // UI thread: one slice, then the way back for what it left. A slice that ran every task at once
  // kept the window from answering for as long as the burst took.
  void RunSlice() {
    ::KillTimer(window_.handle(), kResumeTimer);
    // wake_pending_ stays set while the slice runs, so tasks queued meanwhile post nothing that
    // would overtake input waiting for its turn.
    const bool remain = DrainSlice();
    const bool input_or_paint = HIWORD(::GetQueueStatus(QS_INPUT | QS_PAINT)) != 0;
    const auto now = std::chrono::steady_clock::now();
    if (!deferring_) deferring_since_ = now;
    switch (NextHandoffResume(remain, input_or_paint, now - deferring_since_)) {
      case HandoffResume::kTimer:
        deferring_ = true;
        if (::SetTimer(window_.handle(), kResumeTimer, USER_TIMER_MINIMUM, nullptr) != 0) return;
        break;  // without a timer, the posted wake-up below
      case HandoffResume::kPostedWakeUp:
        break;
      case HandoffResume::kNone:
        deferring_ = false;
        wake_pending_ = false;
        // A task queued after the last look but before the flag cleared posted nothing.
        if (TasksWaiting() && !wake_pending_.exchange(true)) PostWakeUp();
        return;
    }
    deferring_ = false;
    PostWakeUp();
  }

  std::atomic<bool> wake_pending_{false};  // a posted wake-up or the resume timer is on its way
  std::atomic<bool> wake_lost_{false};     // a wake-up could not be posted
  bool deferring_ = false;  // UI thread: slices have resumed by timer since deferring_since_
  std::chrono::steady_clock::time_point deferring_since_;
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
