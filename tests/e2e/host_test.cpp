// kestro_pos.exe from start to exit: what reaches the engine, the plug-in registration order,
// the window's size per monitor DPI and its visibility, the running window's messages (the
// engine library's first look at each one, DPI and font changes, the title-bar theme), and the
// dialogs, standard error and exit codes of a normal end, failed starts, crashes and a second
// instance.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/e2e/host_harness.h"

namespace kestro_e2e {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

constexpr UINT kDwmColorizationColorChanged = 0x0320;

const std::wstring kHeading =
    L"Kestro POS failed to start.\n"
    L"Kestro POS не вдалося запустити.\n"
    L"Kestro POS не удалось запустить.\n\n";

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

// Samples the host while it starts: each sample freezes the UI thread and reads the window's
// visibility together with the transcript. Returns true when some sample fell after the view
// was created (so the window had long been created) and before the first frame, and fails the
// test if the window was visible in such a sample. False when no sample hit that span.
bool SampledHiddenBetweenViewAndFirstFrame(HostProcess& host, const RunFolder& folder,
                                           HWND* window) {
  bool sampled = false;
  const ULONGLONG deadline = ::GetTickCount64() + kTimeoutMs;
  for (;;) {
    // Ended, or no first frame in time: the checks after this fail.
    if (host.WaitForExit(0) || ::GetTickCount64() > deadline) return false;
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
    if (start == 0) {
      // A second start restores and activates the minimised window, without a dialog (which
      // would keep it waiting for OK), and ends.
      ::ShowWindow(window, SW_MINIMIZE);
      for (int i = 0; i < 200 && !::IsIconic(window); ++i) ::Sleep(10);
      ASSERT_TRUE(::IsIconic(window));
      RunFolder second_folder("close\n");
      HostProcess second(second_folder);
      EXPECT_EQ(second.WaitForExit(), 0u);
      EXPECT_THAT(second_folder.Transcript(), IsEmpty());
      EXPECT_FALSE(::IsIconic(window));
      EXPECT_TRUE(::IsWindowVisible(window));
      EXPECT_EQ(::GetForegroundWindow(), window);
    }
    ::PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(host.WaitForExit(), 0u);

    // Each plug-in library's registrar request and registration, in alphabetical order, then
    // the printer bridge's registrar and channel callback.
    std::vector<std::string> expected = {
        arguments, "view " + std::to_string(client.right) + " " + std::to_string(client.bottom)};
    for (const std::string name :
         {"AudioplayersWindowsPlugin", "ConnectivityPlusWindowsPlugin", "FileSelectorWindows",
          "FlutterPosPrinterPlatformPlugin", "FlutterSecureStorageWindowsPlugin", "LocalAuthPlugin",
          "PermissionHandlerWindowsPlugin", "UrlLauncherWindows"}) {
      expected.insert(expected.end(),
                      {"registrar " + name, "plugin " + name + "RegisterWithRegistrar"});
    }
    expected.insert(expected.end(),
                    {"registrar ThermalPrinterPlugin", "callback com.kestro.pos/thermal_printer",
                     "redraw", "frame", "next-frame", "frame", "destroyed"});
    EXPECT_THAT(folder.Transcript(), ElementsAreArray(expected));
    EXPECT_THAT(host.StandardErrorLines(), IsEmpty());
  }
  EXPECT_TRUE(sampled) << "no sample fell between the view's creation and the first frame";
}

// Every top-level message goes to the engine library first. Unclaimed: WM_DPICHANGED, sent by the
// engine on the UI thread with a rectangle that lives only during the call, moves and sizes the
// window to exactly it, the view filling the client area; a font change reloads the fonts; the
// fake dwmapi.dll sees the dark title bar (attribute 20 = 1) for AppsUseLightTheme 0 and light
// once it is 1 and the colourisation changes. A claimed message gets exactly the engine's answer
// and never reaches the host: a resize leaves the view as it was, a font change reloads nothing.
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

// A failed start: without the data folder there is no engine, so nothing reaches the application
// side; an engine that refuses the view gets no plug-in registered. A crash on the UI thread or
// on a thread of the engine's own, or an abort there, takes one path. Each shows its dialog and
// exits with 1. The window still gets messages (the dialog's activation, a resize, a font
// change): none may hand a failed view controller's spent handles to the engine library, and from
// a crash on none reaches the host's objects. A crashed UI thread blocks and answers nothing.
TEST(HostFailureTest, FailedStartsAndCrashesShowTheirDialogAndExitOne) {
  struct Case {
    bool with_bundle;
    std::string script;
    // For a crash: the lines after the script's last watch, which follows a normal start.
    std::vector<std::string> transcript;
  };
  const std::string watch =
      "watch 0x0006\nwatch 0x001c\nwatch 0x0086\nwatch 0x0005\nwatch 0x001d\n";
  const Case cases[] = {
      {false, "close\n", {}},
      {true, "refuse-view\n", {"args 0", "view-refused"}},
      {true, watch + "crash\n", {"crash"}},
      {true, watch + "crash-thread\n", {"crash-thread"}},
      {true, watch + "abort-thread\nwait 300\nabort-thread\n", {"abort-thread", "abort-thread"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    const bool crashed = c.script.rfind("watch", 0) == 0;
    RunFolder folder(c.script, c.with_bundle);
    HostProcess host(folder);
    HWND dialog = WaitForWindow(host.process_id(), L"#32770");
    ASSERT_NE(dialog, nullptr);
    HWND window = WaitForWindow(host.process_id());
    ASSERT_NE(window, nullptr);
    // A failed start never shows the window; a crash hides it, except one on the UI thread, which
    // never runs again to hide it or to answer.
    const bool ui_thread_crashed = c.transcript == std::vector<std::string>{"crash"};
    EXPECT_EQ(ui_thread_crashed ? ::IsWindowVisible(window) == FALSE : WaitUntilHidden(window),
              !ui_thread_crashed);
    EXPECT_EQ(DialogText(dialog),
              kHeading + (crashed ? L"A native crash occurred while starting the app.\n"
                                    L"Сталася помилка під час запуску програми."
                                  : L"Could not create the application window.\n"
                                    L"Не вдалося створити вікно програми."));
    if (!ui_thread_crashed) {
      SendToWindow(window, WM_FONTCHANGE);
      SendToWindow(window, WM_ACTIVATEAPP, TRUE);
      SendToWindow(window, WM_SIZE, SIZE_RESTORED, MAKELPARAM(640, 480));
    }
    // A second abort while the dialog is up blocks its thread: one dialog, and OK still ends all.
    const auto played = [&] {
      std::vector<std::string> after = folder.TranscriptAfter("watch 0x001d");
      after.erase(std::remove(after.begin(), after.end(), "frame"), after.end());
      return after;
    };
    for (int polls = 0; crashed && played() != c.transcript && polls < 200; ++polls) ::Sleep(10);
    EXPECT_EQ(Windows(host.process_id(), L"#32770").size(), 1u);
    ::PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(host.WaitForExit(), 1u);
    if (crashed) {
      EXPECT_THAT(host.StandardErrorLines(), IsEmpty());
      EXPECT_EQ(played(), c.transcript);
      continue;
    }
    EXPECT_THAT(host.StandardErrorLines(), ElementsAre("Failed to create view controller."));
    std::vector<std::string> transcript = folder.Transcript();
    // The refusal's line carries the size it was asked for.
    for (std::string& line : transcript) line = line.substr(0, line.find(' ', 5));
    EXPECT_EQ(transcript, c.transcript);
  }
}

// A crash dialog that cannot come up (the crashed thread holds the loader's and the heap's locks)
// must not keep the process: it ends with exit code 1 after about 10 s, without a dialog.
TEST(HostFailureTest, ACrashDialogThatCannotComeUpStillEndsTheProcess) {
  RunFolder folder("", false);
  folder.UseExecutable(L"crash_dialog_blocked.exe");
  HostProcess probe(folder);
  const ULONGLONG start = ::GetTickCount64();
  EXPECT_EQ(WaitForWindow(probe.process_id(), L"#32770", 5000), nullptr);
  EXPECT_EQ(probe.WaitForExit(15000), 1u);
  EXPECT_GE(::GetTickCount64() - start, 9000u);
}

// A second start that finds the single-instance mutex taken (here by the test) and no window
// waits for the first instance to exit; after 45 s it says so in a dialog and exits with 0. The
// one with a window is in the start test.
TEST(HostFailureTest, SecondInstanceBeforeAnyWindowSaysItIsAlreadyRunning) {
  HANDLE mutex = ::CreateMutexW(nullptr, TRUE, L"Local\\KestroPOS.SingleInstance");
  ASSERT_NE(mutex, nullptr);
  ASSERT_NE(::GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS))
      << "another kestro_pos.exe is running in this Wine prefix";
  {
    RunFolder folder("close\n");
    HostProcess host(folder);
    ::Sleep(40000);
    EXPECT_EQ(WaitForWindow(host.process_id(), L"#32770", 0), nullptr);
    // no ASSERT: the mutex must close
    HWND dialog = WaitForWindow(host.process_id(), L"#32770", 30000);
    EXPECT_EQ(DialogText(dialog),
              kHeading + L"Kestro POS is already running.\nKestro POS вже запущено.");
    ::PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(host.WaitForExit(), 0u);
    EXPECT_THAT(folder.Transcript(), IsEmpty());
    EXPECT_EQ(WaitForWindow(host.process_id(), kWindowClass, 0), nullptr);
  }
  ::CloseHandle(mutex);
}

// Two starts at once: whichever comes second finds no window yet, waits, and restores the first's
// window when it appears, without a dialog.
TEST(HostFailureTest, ADoubleStartEndsWithTheFirstWindowRestored) {
  RunFolder first_folder("# idle until the test closes the window\n");
  RunFolder second_folder("# idle until the test closes the window\n");
  HostProcess first(first_folder);
  HostProcess second(second_folder);
  HWND window = nullptr;
  const ULONGLONG deadline = ::GetTickCount64() + kTimeoutMs;
  while (window == nullptr && ::GetTickCount64() < deadline) {
    window = WaitForWindow(first.process_id(), kWindowClass, 0);
    if (window == nullptr) window = WaitForWindow(second.process_id(), kWindowClass, 0);
    ::Sleep(10);
  }
  ASSERT_NE(window, nullptr);
  DWORD owner = 0;
  ::GetWindowThreadProcessId(window, &owner);
  HostProcess& waiting = owner == first.process_id() ? second : first;
  EXPECT_EQ(waiting.WaitForExit(), 0u);
  EXPECT_THAT((owner == first.process_id() ? second_folder : first_folder).Transcript(), IsEmpty());
  EXPECT_TRUE(::IsWindowVisible(window));
  ::PostMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_EQ((owner == first.process_id() ? first : second).WaitForExit(), 0u);
}

}  // namespace
}  // namespace kestro_e2e
