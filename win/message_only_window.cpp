#include "win/message_only_window.h"

#include "win/window_class.h"

namespace kestro {

MessageOnlyWindow::~MessageOnlyWindow() {
  if (window_ != nullptr) ::DestroyWindow(window_);
}

bool MessageOnlyWindow::Create(const wchar_t* class_name, WNDPROC procedure, void* user_data) {
  WindowClassOptions options;
  options.name = class_name;
  options.procedure = procedure;
  if (RegisterWindowClass(options) == 0 && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
    return false;
  }
  window_ = ::CreateWindowExW(0, class_name, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              ::GetModuleHandleW(nullptr), nullptr);
  if (window_ == nullptr) return false;
  ::SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(user_data));
  return true;
}

bool MessageOnlyWindow::Post(UINT message, WPARAM wparam, LPARAM lparam) const {
  return ::PostMessageW(window_, message, wparam, lparam) != FALSE;
}

void* MessageOnlyWindow::UserData(HWND window) {
  return reinterpret_cast<void*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
}

}  // namespace kestro
