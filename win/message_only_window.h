// A message-only window of the executable: it receives posted messages on the thread that
// created it, and is destroyed with its object. Windows only; that thread only, except Post.
#ifndef KESTRO_WIN_MESSAGE_ONLY_WINDOW_H_
#define KESTRO_WIN_MESSAGE_ONLY_WINDOW_H_

#include <windows.h>

namespace kestro {

class MessageOnlyWindow {
 public:
  MessageOnlyWindow() = default;
  ~MessageOnlyWindow();
  MessageOnlyWindow(const MessageOnlyWindow&) = delete;
  MessageOnlyWindow& operator=(const MessageOnlyWindow&) = delete;

  // Registers `class_name` with `procedure` unless the executable already has it, then creates
  // the window and stores `user_data` in its GWLP_USERDATA. False when either step fails.
  bool Create(const wchar_t* class_name, WNDPROC procedure, void* user_data);

  // PostMessageW to the window, from any thread; false as PostMessageW fails.
  bool Post(UINT message, WPARAM wparam, LPARAM lparam) const;

  // The window, null before Create succeeded.
  HWND handle() const { return window_; }

  // The user data stored by Create, read in the window procedure.
  static void* UserData(HWND window);

 private:
  HWND window_ = nullptr;
};

}  // namespace kestro

#endif  // KESTRO_WIN_MESSAGE_ONLY_WINDOW_H_
