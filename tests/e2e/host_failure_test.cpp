// Start-up failures of kestro_pos.exe: the dialogs the cashier sees, the diagnostics on
// standard error, the exit codes, and the single-instance rule.
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
using ::testing::IsEmpty;

const std::wstring kHeading =
    L"Kestro POS failed to start.\n"
    L"Kestro POS не вдалося запустити.\n"
    L"Kestro POS не удалось запустить.\n\n";
const std::wstring kWindowCreationText =
    kHeading + L"Could not create the application window.\nНе вдалося створити вікно програми.";
const std::wstring kAlreadyRunningText =
    kHeading + L"Kestro POS is already running.\nKestro POS вже запущено.";
const std::wstring kCrashText =
    kHeading +
    L"A native crash occurred while starting the app.\nСталася помилка під час запуску програми.";

// A failed start: without the data folder there is no engine, so nothing reaches the application
// side; an engine that refuses the view gets no plug-in registered. A crash on the UI thread or
// on a thread of the engine's own, or an abort there, takes one path. Each shows its dialog and
// exits with 1. The window still gets messages (the dialog's activation, a resize, a font
// change): none may hand a failed view controller's spent handles to the engine library, and from
// a crash on none reaches the host's objects.
TEST(HostFailureTest, FailedStartsAndCrashesShowTheirDialogAndExitOne) {
  struct Case {
    bool with_bundle;
    std::string script;
    std::vector<std::string> transcript;  // for a crash: the lines after "next-frame"
  };
  const std::vector<std::string> watch = {"watch 0x0006", "watch 0x001c", "watch 0x0086",
                                          "watch 0x0005", "watch 0x001d"};
  std::string watch_script;
  for (const std::string& line : watch) watch_script += line + "\n";
  const auto crash = [&](const std::string& how) {
    std::vector<std::string> transcript = watch;
    transcript.push_back(how);
    return Case{true, watch_script + how + "\n", transcript};
  };
  const Case cases[] = {
      {false, "close\n", {}}, {true, "refuse-view\n", {"args 0", "view-refused"}},
      crash("crash"),         crash("crash-thread"),
      crash("abort-thread"),
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
    EXPECT_EQ(::IsWindowVisible(window) != FALSE, crashed);  // a failed start never shows it
    EXPECT_EQ(DialogText(dialog), crashed ? kCrashText : kWindowCreationText);
    SendToWindow(window, WM_FONTCHANGE);
    SendToWindow(window, WM_ACTIVATEAPP, TRUE);
    SendToWindow(window, WM_SIZE, SIZE_RESTORED, MAKELPARAM(640, 480));
    ::PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(host.WaitForExit(), 1u);
    if (crashed) {
      EXPECT_THAT(host.StandardErrorLines(), IsEmpty());
      std::vector<std::string> after = folder.TranscriptAfter("next-frame");
      after.erase(std::remove(after.begin(), after.end(), "frame"), after.end());
      EXPECT_EQ(after, c.transcript);
      continue;
    }
    EXPECT_THAT(host.StandardErrorLines(), ElementsAre("Failed to create view controller."));
    std::vector<std::string> transcript = folder.Transcript();
    // The refusal's line carries the size it was asked for.
    for (std::string& line : transcript) line = line.substr(0, line.find(' ', 5));
    EXPECT_EQ(transcript, c.transcript);
  }
}

// A second start finds the single-instance mutex. Before the first instance has a window (the
// test holds the mutex) it shows the already-running dialog; once the window is there it restores
// and activates that window, without a dialog. Both exit with 0.
TEST(HostFailureTest, SecondInstanceShowsTheFirstWindowOrSaysItIsAlreadyRunning) {
  HANDLE mutex = ::CreateMutexW(nullptr, TRUE, L"Local\\KestroPOS.SingleInstance");
  ASSERT_NE(mutex, nullptr);
  ASSERT_NE(::GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS))
      << "another kestro_pos.exe is running in this Wine prefix";
  {
    RunFolder folder("close\n");
    HostProcess host(folder);
    HWND dialog = WaitForWindow(host.process_id(), L"#32770");  // no ASSERT: the mutex must close
    EXPECT_EQ(DialogText(dialog), kAlreadyRunningText);
    ::PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(host.WaitForExit(), 0u);
    EXPECT_THAT(folder.Transcript(), IsEmpty());
    EXPECT_EQ(WaitForWindow(host.process_id(), kWindowClass, 0), nullptr);
  }
  ::CloseHandle(mutex);

  RunFolder first_folder("# idle\n");
  HostProcess first(first_folder);
  ASSERT_TRUE(first_folder.WaitForTranscriptLine("next-frame"));
  HWND window = WaitForWindow(first.process_id());
  ASSERT_NE(window, nullptr);
  ::ShowWindow(window, SW_MINIMIZE);
  for (int i = 0; i < 200 && !::IsIconic(window); ++i) ::Sleep(10);
  ASSERT_TRUE(::IsIconic(window));

  RunFolder second_folder("close\n");
  HostProcess second(second_folder);
  // A dialog would keep the second instance waiting for OK.
  EXPECT_EQ(second.WaitForExit(), 0u);
  EXPECT_THAT(second_folder.Transcript(), IsEmpty());
  EXPECT_FALSE(::IsIconic(window));
  EXPECT_TRUE(::IsWindowVisible(window));
  EXPECT_EQ(::GetForegroundWindow(), window);

  ::PostMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(first.WaitForExit(), 0u);
}

}  // namespace
}  // namespace kestro_e2e
