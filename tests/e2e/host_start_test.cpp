// A normal start and close of kestro_pos.exe: what reaches the engine, the plug-in registration
// order, the window's size and visibility, the exit code, and the running window's messages: the
// engine library's first look at each one, DPI and font changes, and the title-bar theme.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "tests/e2e/host_harness.h"

namespace kestro_e2e {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

constexpr UINT kDwmColorizationColorChanged = 0x0320;

// A started host whose script has run up to `ready_line`, with its window.
class RunningHost {
 public:
  RunningHost(const std::string& script, const std::string& ready_line,
              bool with_fake_dwmapi = false)
      : folder_(script) {
    if (with_fake_dwmapi) folder_.AddFakeDwmapi();
    host_.emplace(folder_);
    if (!folder_.WaitForTranscriptLine(ready_line)) {
      ADD_FAILURE() << "the script never reached: " << ready_line;
      return;
    }
    window_ = FindProcessWindow(host_->process_id(), kWindowClass, kTitle);
    if (window_ != nullptr) view_ = ::GetWindow(window_, GW_CHILD);
  }

  // Closes the window and expects a normal end.
  void Close() {
    ::PostMessageW(window_, WM_CLOSE, 0, 0);
    EXPECT_EQ(host_->WaitForExit(), 0u);
  }

  // The view's rectangle in the client coordinates of the window.
  RECT ViewRect() const {
    RECT rect = WindowRect(view_);
    ::MapWindowPoints(HWND_DESKTOP, window_, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
  }

  RunFolder& folder() { return folder_; }
  HWND window() const { return window_; }
  HWND view() const { return view_; }

 private:
  RunFolder folder_;
  std::optional<HostProcess> host_;
  HWND window_ = nullptr;
  HWND view_ = nullptr;
};

std::string RectText(const RECT& rect) {
  return std::to_string(rect.left) + "," + std::to_string(rect.top) + " " +
         std::to_string(rect.right) + "," + std::to_string(rect.bottom);
}

// What registration writes: each plug-in library's registrar request and registration, in
// alphabetical order, then the printer bridge's registrar and channel callback.
std::vector<std::string> Registration() {
  std::vector<std::string> lines;
  for (const std::string name :
       {"AudioplayersWindowsPlugin", "ConnectivityPlusWindowsPlugin", "FileSelectorWindows",
        "FlutterPosPrinterPlatformPlugin", "FlutterSecureStorageWindowsPlugin", "LocalAuthPlugin",
        "PermissionHandlerWindowsPlugin", "UrlLauncherWindows"}) {
    lines.push_back("registrar " + name);
    lines.push_back("plugin " + name + "RegisterWithRegistrar");
  }
  lines.push_back("registrar ThermalPrinterPlugin");
  lines.push_back("callback com.kestro.pos/thermal_printer");
  return lines;
}

// Freezes the host's UI thread so the window and the transcript can be read in one state.
class FrozenUiThread {
 public:
  explicit FrozenUiThread(HANDLE thread) : thread_(thread) {
    ::SuspendThread(thread_);
    // Returns only once the thread has really stopped.
    CONTEXT context{};
    context.ContextFlags = CONTEXT_CONTROL;
    ::GetThreadContext(thread_, &context);
  }
  ~FrozenUiThread() { ::ResumeThread(thread_); }

 private:
  HANDLE thread_;
};

// Samples the host while it starts: each sample freezes the UI thread and reads the window's
// visibility together with the transcript. Returns true when some sample fell after the view
// was created (so the window had long been created) and before the first frame, and fails the
// test if the window was visible in such a sample. False when no sample hit that span.
bool SampledHiddenBetweenViewAndFirstFrame(HostProcess& host, const RunFolder& folder,
                                           HWND* window) {
  bool sampled = false;
  for (;;) {
    if (host.WaitForExit(0)) {
      ADD_FAILURE() << "the host ended during start-up";
      return false;
    }
    if (*window == nullptr) *window = FindProcessWindow(host.process_id(), kWindowClass, kTitle);
    if (*window == nullptr) continue;
    FrozenUiThread frozen(host.main_thread());
    bool view_created = false;
    for (const std::string& line : folder.Transcript()) {
      if (line == "frame") return sampled;
      if (line.rfind("view ", 0) == 0) view_created = true;
    }
    if (view_created) {
      sampled = true;
      if (::IsWindowVisible(*window)) {
        ADD_FAILURE() << "visible before the first frame";
        return true;
      }
    }
  }
}

// The command line reaches the engine as UTF-8 without the program name, split by Windows' rules,
// empty arguments kept.
TEST(HostStartTest, RegistersPluginsShowsWindowAfterFirstFrameAndExitsZeroOnClose) {
  const std::string arguments =
      "args 4 " + Hex("--printer") + " " + Hex(u8"Каса №1") + " - " + Hex(u8"Привіт");
  // The window stays hidden for the few milliseconds between creating the view and the first
  // frame. A start in which no sample hit that span proves nothing and is repeated.
  for (int attempt = 0; attempt < 10; ++attempt) {
    RunFolder folder("# idle until the test closes the window\n");
    HostProcess host(folder, L"--printer \"Каса №1\" \"\" Привіт");
    HWND window = nullptr;
    const bool sampled = SampledHiddenBetweenViewAndFirstFrame(host, folder, &window);
    if (::testing::Test::HasFailure()) return;

    ASSERT_TRUE(folder.WaitForTranscriptLine("next-frame"));
    EXPECT_TRUE(::IsWindowVisible(window));
    const RECT client = ClientRect(window);
    ::PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(host.WaitForExit(), 0u);

    std::vector<std::string> expected = {
        arguments, "view " + std::to_string(client.right) + " " + std::to_string(client.bottom)};
    const std::vector<std::string> registration = Registration();
    expected.insert(expected.end(), registration.begin(), registration.end());
    expected.insert(expected.end(), {"redraw", "frame", "next-frame", "frame", "destroyed"});
    EXPECT_THAT(folder.Transcript(), ElementsAreArray(expected));
    EXPECT_THAT(host.StandardErrorLines(), IsEmpty());
    if (sampled) return;
  }
  FAIL() << "no sample fell between the view's creation and the first frame in 10 starts";
}

TEST(HostStartTest, WindowRectangleFollowsTheMonitorDpi) {
  struct Case {
    DWORD dpi;
    RECT window;
  };
  // Logical (10, 10) and 1280 x 720, scaled and truncated; the size includes the frame.
  const Case cases[] = {
      {96, {10, 10, 1290, 730}},
      {120, {12, 12, 1612, 912}},
      {144, {15, 15, 1935, 1095}},
  };
  for (const Case& c : cases) {
    // The DPI Wine reports for every monitor to processes started afterwards.
    ScopedUserDword log_pixels(L"Control Panel\\Desktop", L"LogPixels", c.dpi);
    RunningHost host("", "next-frame");
    ASSERT_NE(host.window(), nullptr);
    EXPECT_EQ(RectText(WindowRect(host.window())), RectText(c.window)) << c.dpi;
    // The view gets the client area, which is smaller than the outer size.
    const RECT client = ClientRect(host.window());
    EXPECT_LT(client.right, c.window.right - c.window.left);
    EXPECT_LT(client.bottom, c.window.bottom - c.window.top);
    EXPECT_TRUE(host.folder().TranscriptHas("view " + std::to_string(client.right) + " " +
                                            std::to_string(client.bottom)))
        << c.dpi;
    host.Close();
  }
}

// A message the engine claims gets exactly the engine's answer and never reaches the host's own
// handling: a resize from outside leaves the view where it was, a font change reloads nothing.
TEST(HostWindowTest, AClaimedMessageNeverReachesTheHost) {
  RunningHost host("claim 0x0005 4242\nclaim 0x001d 0\n", "claim 0x001d 0");
  ASSERT_NE(host.view(), nullptr);
  const RECT before = host.ViewRect();
  ASSERT_TRUE(::SetWindowPos(host.window(), nullptr, 0, 0, 900, 600,
                             SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE));
  EXPECT_TRUE(host.folder().WaitForTranscriptLine("claimed 0x0005 4242"));
  SendToWindow(host.window(), WM_NULL);  // the resize has been handled to the end once answered
  EXPECT_NE(RectText(ClientRect(host.window())), RectText(before));
  EXPECT_EQ(RectText(host.ViewRect()), RectText(before));
  EXPECT_EQ(SendToWindow(host.window(), WM_SIZE, SIZE_RESTORED, MAKELPARAM(1, 1)), 4242);
  SendToWindow(host.window(), WM_FONTCHANGE);
  host.Close();
  EXPECT_TRUE(host.folder().TranscriptHas("claimed 0x001d 0"));
  EXPECT_FALSE(host.folder().TranscriptHas("fonts-reloaded"));
}

// Unclaimed messages reach the host after the engine saw them. WM_DPICHANGED, sent by the engine
// on the UI thread with a rectangle that lives only during the call, moves and sizes the window to
// exactly that rectangle, and the view keeps filling the client area. A font change reloads the
// fonts. Wine keeps no title-bar attribute, so the fake dwmapi.dll records what the host sets:
// dark (attribute 20 = 1) for AppsUseLightTheme 0 at creation, light (0) once the value is 1 and
// the colourisation-change message arrives.
TEST(HostWindowTest, DpiFontAndThemeChangesReachTheHost) {
  ScopedUserDword theme(L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize",
                        L"AppsUseLightTheme", 0);
  const RECT suggested{100, 50, 1300, 950};
  const std::string dpi_changed = "dpi-changed 144 100 50 1300 950";
  RunningHost host("watch 0x001d\n" + dpi_changed + "\n", dpi_changed, /*with_fake_dwmapi=*/true);
  ASSERT_NE(host.view(), nullptr);
  EXPECT_EQ(RectText(WindowRect(host.window())), RectText(suggested));
  EXPECT_EQ(RectText(host.ViewRect()), RectText(ClientRect(host.window())));

  EXPECT_EQ(SendToWindow(host.window(), WM_FONTCHANGE), 0);
  EXPECT_THAT(host.folder().DwmCalls(), ElementsAre("20 1"));
  theme.Set(1);
  EXPECT_EQ(SendToWindow(host.window(), kDwmColorizationColorChanged), 0);
  EXPECT_THAT(host.folder().DwmCalls(), ElementsAre("20 1", "20 0"));
  host.Close();
  EXPECT_THAT(host.folder().TranscriptAfter(dpi_changed),
              ElementsAre("offered 0x001d", "fonts-reloaded", "destroyed"));
}

}  // namespace
}  // namespace kestro_e2e
