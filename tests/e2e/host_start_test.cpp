// A normal start and close of kestro_pos.exe: what reaches the engine, the plug-in registration
// order, the window's size per monitor DPI and its visibility, the exit code, and the running
// window's messages: the engine library's first look at each one, DPI and font changes, and the
// title-bar theme.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/host_harness.h"

namespace kestro_e2e {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

constexpr UINT kDwmColorizationColorChanged = 0x0320;

// The window's rectangle on the screen, or its client area.
RECT Rect(HWND window, bool client = false) {
  RECT rect{};
  (client ? ::GetClientRect : ::GetWindowRect)(window, &rect);
  return rect;
}

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
    if (*window == nullptr) *window = WaitForWindow(host.process_id(), kWindowClass, 0);
    if (*window == nullptr) continue;
    ::SuspendThread(host.main_thread());
    CONTEXT context{};  // GetThreadContext returns only once the thread has really stopped
    context.ContextFlags = CONTEXT_CONTROL;
    ::GetThreadContext(host.main_thread(), &context);
    const std::vector<std::string> transcript = folder.Transcript();
    const bool visible = ::IsWindowVisible(*window);
    ::ResumeThread(host.main_thread());
    bool view_created = false;
    for (const std::string& line : transcript) {
      if (line == "frame") return sampled;
      view_created = view_created || line.rfind("view ", 0) == 0;
    }
    sampled = sampled || view_created;
    if (view_created && visible) {
      ADD_FAILURE() << "visible before the first frame";
      return true;
    }
  }
}

// The command line reaches the engine as UTF-8 without the program name, split by Windows' rules,
// empty arguments kept. The window is logical (10, 10) and 1280 x 720 scaled to the monitor's DPI
// and truncated, frame included; the view gets the smaller client area.
TEST(HostStartTest, RegistersPluginsShowsWindowAfterFirstFrameAndExitsZeroOnClose) {
  struct Case {
    DWORD dpi;
    const char* window;
  };
  const Case cases[] = {{96, "10,10 1290,730"}, {120, "12,12 1612,912"}, {144, "15,15 1935,1095"}};
  const std::string arguments =
      "args 4 " + Hex("--printer") + " " + Hex(u8"Каса №1") + " - " + Hex(u8"Привіт");
  // The window stays hidden for the few milliseconds between creating the view and the first
  // frame. Starts go on through the DPIs until some sample hit that span.
  bool sampled = false;
  for (int start = 0; start < 12 && (start < 3 || !sampled); ++start) {
    const Case& c = cases[start % 3];
    SCOPED_TRACE(c.dpi);
    // The DPI Wine reports for every monitor to processes started afterwards.
    ScopedUserDword log_pixels(L"Control Panel\\Desktop", L"LogPixels", c.dpi);
    RunFolder folder("# idle until the test closes the window\n");
    HostProcess host(folder, L"--printer \"Каса №1\" \"\" Привіт");
    HWND window = nullptr;
    sampled = SampledHiddenBetweenViewAndFirstFrame(host, folder, &window) || sampled;
    if (::testing::Test::HasFailure()) return;

    ASSERT_TRUE(folder.WaitForTranscriptLine("next-frame"));
    EXPECT_TRUE(::IsWindowVisible(window));
    const RECT outer = Rect(window);
    const RECT client = Rect(window, true);
    EXPECT_EQ(RectText(outer), c.window);
    EXPECT_LT(client.right, outer.right - outer.left);
    EXPECT_LT(client.bottom, outer.bottom - outer.top);
    ::PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(host.WaitForExit(), 0u);

    std::vector<std::string> expected = {
        arguments, "view " + std::to_string(client.right) + " " + std::to_string(client.bottom)};
    const std::vector<std::string> registration = Registration();
    expected.insert(expected.end(), registration.begin(), registration.end());
    expected.insert(expected.end(), {"redraw", "frame", "next-frame", "frame", "destroyed"});
    EXPECT_THAT(folder.Transcript(), ElementsAreArray(expected));
    EXPECT_THAT(host.StandardErrorLines(), IsEmpty());
  }
  EXPECT_TRUE(sampled) << "no sample fell between the view's creation and the first frame";
}

// Every top-level message goes to the engine library first. Unclaimed: WM_DPICHANGED, sent by the
// engine on the UI thread with a rectangle that lives only during the call, moves and sizes the
// window to exactly that rectangle, and the view keeps filling the client area; a font change
// reloads the fonts. Wine keeps no title-bar attribute, so the fake dwmapi.dll records what the
// host sets: dark (attribute 20 = 1) for AppsUseLightTheme 0 at creation, light (0) once the
// value is 1 and the colourisation-change message arrives. A claimed message gets exactly the
// engine's answer and never reaches the host: a resize from outside leaves the view where it
// was, a font change reloads nothing.
TEST(HostWindowTest, TheEngineSeesEachMessageFirstAndWhatItClaimsNeverReachesTheHost) {
  ScopedUserDword theme(L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize",
                        L"AppsUseLightTheme", 0);
  const std::string dpi_changed = "dpi-changed 144 100 50 1300 950";
  RunFolder folder("watch 0x001d\n" + dpi_changed +
                   "\npost 0x001d\nclaim 0x0005 4242\nclaim 0x001d 7\n");
  folder.AddFakeDwmapi();
  HostProcess host(folder);
  ASSERT_TRUE(folder.WaitForTranscriptLine("claim 0x001d 7"));
  const HWND window = WaitForWindow(host.process_id());
  const HWND view = ::GetWindow(window, GW_CHILD);
  ASSERT_NE(view, nullptr);
  // The view's rectangle in the client coordinates of the window.
  const auto view_rect = [window, view] {
    RECT rect = Rect(view);
    ::MapWindowPoints(HWND_DESKTOP, window, reinterpret_cast<POINT*>(&rect), 2);
    return RectText(rect);
  };
  EXPECT_EQ(RectText(Rect(window)), "100,50 1300,950");
  const std::string before = view_rect();
  EXPECT_EQ(before, RectText(Rect(window, true)));

  const std::wstring dwm_calls = folder.path() + L"\\dwmapi.txt";
  EXPECT_THAT(ReadLines(dwm_calls), ElementsAre("20 1"));
  theme.Set(1);
  EXPECT_EQ(SendToWindow(window, kDwmColorizationColorChanged), 0);
  EXPECT_THAT(ReadLines(dwm_calls), ElementsAre("20 1", "20 0"));

  ASSERT_TRUE(
      ::SetWindowPos(window, nullptr, 0, 0, 900, 600, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE));
  SendToWindow(window, WM_NULL);  // the resize has been handled to the end once answered
  EXPECT_NE(RectText(Rect(window, true)), before);
  EXPECT_EQ(view_rect(), before);
  EXPECT_EQ(SendToWindow(window, WM_SIZE, SIZE_RESTORED, MAKELPARAM(1, 1)), 4242);
  EXPECT_EQ(SendToWindow(window, WM_FONTCHANGE), 7);
  ::PostMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(host.WaitForExit(), 0u);
  EXPECT_THAT(
      folder.TranscriptAfter(dpi_changed),
      ElementsAre("offered 0x001d", "fonts-reloaded", "claim 0x0005 4242", "claim 0x001d 7",
                  "claimed 0x0005 4242", "claimed 0x0005 4242", "claimed 0x001d 7", "destroyed"));
}

}  // namespace
}  // namespace kestro_e2e
