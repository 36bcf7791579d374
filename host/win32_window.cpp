#include "host/win32_window.h"

#include <dwmapi.h>

#include "engine_client/engine_library/flutter_desktop_api.h"
#include "win/window_class.h"
#include "win/window_procedure.h"

namespace kestro {

namespace {

constexpr wchar_t kWindowClassName[] = L"FLUTTER_RUNNER_WIN32_WINDOW";
constexpr int kIconResourceId = 101;
constexpr DWORD kUseImmersiveDarkMode = 20;  // DWMWA_USE_IMMERSIVE_DARK_MODE

// Counts window objects (not native windows), so the class outlives every object that may
// still create a window.
int g_live_window_count = 0;

// Registers the window class once and unregisters it when the last window object goes.
class WindowClassRegistry {
 public:
  static WindowClassRegistry& Get() {
    static WindowClassRegistry registry;
    return registry;
  }

  const wchar_t* GetWindowClass(WNDPROC procedure) {
    if (!class_registered_) {
      WindowClassOptions options;
      options.name = kWindowClassName;
      options.procedure = procedure;
      options.style = CS_HREDRAW | CS_VREDRAW;
      options.icon = ::LoadIconW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kIconResourceId));
      options.cursor = ::LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
      // A failure shows up as a failed CreateWindowExW.
      RegisterWindowClass(options);
      class_registered_ = true;
    }
    return kWindowClassName;
  }

  void UnregisterWindowClass() {
    ::UnregisterClassW(kWindowClassName, nullptr);
    class_registered_ = false;
  }

 private:
  bool class_registered_ = false;
};

// Lets Windows scale the title bar and borders with the monitor's DPI where it can.
void EnableFullDpiSupportIfAvailable(HWND window) {
  HMODULE user32 = ::LoadLibraryA("User32.dll");
  if (user32 == nullptr) {
    return;
  }
  using EnableNonClientDpiScalingProc = BOOL(WINAPI*)(HWND);
  FARPROC proc = ::GetProcAddress(user32, "EnableNonClientDpiScaling");
  if (proc != nullptr) {
    auto enable = reinterpret_cast<EnableNonClientDpiScalingProc>(reinterpret_cast<void*>(proc));
    enable(window);
  }
  ::FreeLibrary(user32);
}

int Scale(int logical, double scale_factor) { return static_cast<int>(logical * scale_factor); }

}  // namespace

void ApplySystemTheme(HWND window) {
  DWORD light_mode = 0;
  DWORD size = sizeof(light_mode);
  const LSTATUS status = ::RegGetValueW(
      HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize",
      L"AppsUseLightTheme", RRF_RT_REG_DWORD, nullptr, &light_mode, &size);
  if (status != ERROR_SUCCESS) {
    return;
  }
  BOOL dark = light_mode == 0 ? TRUE : FALSE;
  ::DwmSetWindowAttribute(window, kUseImmersiveDarkMode, &dark, sizeof(dark));
}

LRESULT Win32Window::RouteMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lparam);
    auto* self = static_cast<Win32Window*>(create->lpCreateParams);
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    EnableFullDpiSupportIfAvailable(window);
    self->window_handle_ = window;
    return ::DefWindowProcW(window, message, wparam, lparam);
  }
  auto* self = reinterpret_cast<Win32Window*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self != nullptr) {
    return self->HandleMessage(window, message, wparam, lparam);
  }
  return ::DefWindowProcW(window, message, wparam, lparam);
}

Win32Window::Win32Window() { ++g_live_window_count; }

Win32Window::~Win32Window() {
  --g_live_window_count;
  Destroy();
}

bool Win32Window::Create(const std::wstring& title, const Point& origin, const Size& size) {
  Destroy();
  const wchar_t* window_class =
      WindowClassRegistry::Get().GetWindowClass(WindowProcedure<&Win32Window::RouteMessage>);

  // The DPI of the monitor nearest the unscaled origin decides the scale.
  const POINT target_point{static_cast<LONG>(origin.x), static_cast<LONG>(origin.y)};
  HMONITOR monitor = ::MonitorFromPoint(target_point, MONITOR_DEFAULTTONEAREST);
  const double scale_factor = FlutterDesktopGetDpiForMonitor(monitor) / 96.0;

  HWND window = ::CreateWindowExW(0, window_class, title.c_str(), WS_OVERLAPPEDWINDOW,
                                  Scale(origin.x, scale_factor), Scale(origin.y, scale_factor),
                                  Scale(size.width, scale_factor), Scale(size.height, scale_factor),
                                  nullptr, nullptr, ::GetModuleHandleW(nullptr), this);
  if (window == nullptr) {
    return false;
  }
  ApplySystemTheme(window);
  return OnCreated();
}

void Win32Window::Destroy() {
  OnDestroying();
  if (window_handle_ != nullptr) {
    ::DestroyWindow(window_handle_);
    window_handle_ = nullptr;
  }
  if (g_live_window_count == 0) {
    WindowClassRegistry::Get().UnregisterWindowClass();
  }
}

void Win32Window::SetContentWindow(HWND content) {
  child_content_ = content;
  ::SetParent(content, window_handle_);
  RECT frame = ClientArea();
  ::MoveWindow(content, frame.left, frame.top, frame.right - frame.left, frame.bottom - frame.top,
               TRUE);
  ::SetFocus(content);
}

bool Win32Window::Show() { return ::ShowWindow(window_handle_, SW_SHOWNORMAL) != 0; }

RECT Win32Window::ClientArea() {
  RECT frame{};
  ::GetClientRect(window_handle_, &frame);
  return frame;
}

LRESULT Win32Window::HandleMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_DESTROY:
      window_handle_ = nullptr;
      Destroy();
      if (quit_when_closed_) {
        ::PostQuitMessage(0);
      }
      return 0;
    case WM_SIZE: {
      RECT rect = ClientArea();
      if (child_content_ != nullptr) {
        ::MoveWindow(child_content_, rect.left, rect.top, rect.right - rect.left,
                     rect.bottom - rect.top, TRUE);
      }
      return 0;
    }
    case WM_ACTIVATE:
      if (child_content_ != nullptr) {
        ::SetFocus(child_content_);
      }
      return 0;
    case WM_DPICHANGED: {
      const RECT* suggested = reinterpret_cast<const RECT*>(lparam);
      ::SetWindowPos(window, nullptr, suggested->left, suggested->top,
                     suggested->right - suggested->left, suggested->bottom - suggested->top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
      return 0;
    }
    case WM_DWMCOLORIZATIONCOLORCHANGED:
      ApplySystemTheme(window);
      return 0;
  }
  return ::DefWindowProcW(window_handle_, message, wparam, lparam);
}

bool Win32Window::OnCreated() { return true; }

void Win32Window::OnDestroying() {}

}  // namespace kestro
