// The Windows hand-off: a message-only window on the UI thread receives each task as a posted
// message carrying an owned pointer.
#include <windows.h>

#include <memory>
#include <utility>

#include "thermal_printer/ui_thread_handoff.h"

namespace kestro {
namespace {

constexpr wchar_t kWindowClass[] = L"KESTRO_PRINTER_BRIDGE_HANDOFF";
constexpr UINT kTaskMessage = WM_APP + 0x50;

class WindowUiThreadHandoff : public UiThreadHandoff {
 public:
  WindowUiThreadHandoff() = default;
  ~WindowUiThreadHandoff() override {
    if (window_ == nullptr) return;
    // Tasks still queued are freed here; the system would drop them with the window unfreed.
    MSG message;
    while (PeekMessageW(&message, window_, kTaskMessage, kTaskMessage, PM_REMOVE)) {
      std::unique_ptr<Task> task(reinterpret_cast<Task*>(message.lParam));
    }
    DestroyWindow(window_);
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
    auto owned = std::make_unique<Task>(std::move(task));
    if (PostMessageW(window_, kTaskMessage, 0, reinterpret_cast<LPARAM>(owned.get()))) {
      owned.release();  // the window procedure owns it now
    }
    // A failed post (the window is gone: 1400, or the queue is full) frees the task here.
  }

 private:
  static LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message != kTaskMessage) return DefWindowProcW(window, message, wparam, lparam);
    std::unique_ptr<Task> task(reinterpret_cast<Task*>(lparam));
    // After a crash the host runs nothing more here: its crashed flag belongs in this test.
    const auto* self =
        reinterpret_cast<const WindowUiThreadHandoff*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self != nullptr && task) self->RunOnUiThread(*task);
    return 0;
  }

  HWND window_ = nullptr;
};

}  // namespace

std::unique_ptr<UiThreadHandoff> NewWindowUiThreadHandoff() {
  auto handoff = std::make_unique<WindowUiThreadHandoff>();
  if (!handoff->Create()) return nullptr;
  return handoff;
}

}  // namespace kestro
