// The host's top-level window: a DPI-scaled, initially hidden window of one registered class
// that follows the user's light or dark app theme, routes every message to its object and keeps
// one content child filling its client area. UI thread only.
#ifndef KESTRO_HOST_WIN32_WINDOW_H_
#define KESTRO_HOST_WIN32_WINDOW_H_

#include <windows.h>

#include <string>

namespace kestro {

// Sets the title bar dark when the user's "AppsUseLightTheme" is 0, light for any other value;
// leaves it alone when the value is missing.
void ApplySystemTheme(HWND window);

class Win32Window {
 public:
  // Logical pixels (96 DPI units).
  struct Point {
    Point(int left, int top) : x(left), y(top) {}
    int x;
    int y;
  };
  struct Size {
    Size(int across, int down) : width(across), height(down) {}
    int width;
    int height;
  };

  Win32Window();
  virtual ~Win32Window();

  Win32Window(const Win32Window&) = delete;
  Win32Window& operator=(const Win32Window&) = delete;

  // Creates the native window, hidden, scaled to the DPI of the monitor nearest `origin`;
  // `size` is the outer size. Replaces an earlier native window of this object. True when the
  // window exists and OnCreated agreed.
  bool Create(const std::wstring& title, const Point& origin, const Size& size);

  // Destroys the native window if any, and unregisters the class once no window object is left.
  // Safe to call repeatedly.
  void Destroy();

  // Makes `content` the child that fills the client area and has the focus.
  void SetContentWindow(HWND content);

  // When set, destroying the native window posts WM_QUIT with code 0.
  void SetQuitWhenClosed(bool quit_when_closed) { quit_when_closed_ = quit_when_closed; }

  bool Show();

  RECT ClientArea();

  HWND GetHandle() const { return window_handle_; }

 protected:
  // Handles one message; unhandled ones go to DefWindowProcW.
  virtual LRESULT HandleMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

  // Runs at the end of Create; false makes Create fail.
  virtual bool OnCreated();

  // Runs on every Destroy, possibly more than once for one native window.
  virtual void OnDestroying();

 private:
  // The window class's route: each message goes to the Win32Window stored in the window's user
  // data (set on WM_NCCREATE).
  static LRESULT RouteMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

  bool quit_when_closed_ = false;
  HWND window_handle_ = nullptr;
  HWND child_content_ = nullptr;
};

}  // namespace kestro

#endif  // KESTRO_HOST_WIN32_WINDOW_H_
