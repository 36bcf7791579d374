// Start-up failures of kestro_pos.exe: the dialogs the cashier sees, the diagnostics on
// standard error, the exit codes, and the single-instance rule.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

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

// An incomplete bundle leaves no engine, so nothing reaches the application side; an engine that
// refuses the view gets no plug-in registered.
TEST(HostFailureTest, FailedViewShowsWindowCreationDialogAndExitsOne) {
  struct Case {
    Bundle bundle;
    const char* script;
    std::vector<std::string> transcript;
  };
  const Case cases[] = {
      {Bundle::kNoDataFolder, "close\n", {}},
      {Bundle::kNoIcuData, "close\n", {}},
      {Bundle::kNoAssets, "close\n", {}},
      {Bundle::kNoApp, "close\n", {}},
      {Bundle::kComplete, "refuse-view\n", {"args 0", "view-refused"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.bundle));
    RunFolder folder(c.script, c.bundle);
    HostProcess host(folder);
    HWND dialog = WaitForWindow(host.process_id(), L"#32770");
    ASSERT_NE(dialog, nullptr);
    // The application window was created but never shown.
    HWND window = WaitForWindow(host.process_id());
    ASSERT_NE(window, nullptr);
    EXPECT_FALSE(::IsWindowVisible(window));
    EXPECT_EQ(DialogText(dialog), kWindowCreationText);
    // The window still gets messages (the dialog's activation, a font change): none may hand the
    // failed view controller's spent handles to the engine library.
    SendToWindow(window, WM_FONTCHANGE);
    SendToWindow(window, WM_ACTIVATEAPP, TRUE);
    SendToWindow(window, WM_SIZE, SIZE_RESTORED, MAKELPARAM(640, 480));
    ::PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(host.WaitForExit(), 1u);
    EXPECT_THAT(host.StandardErrorLines(), ElementsAre("Failed to create view controller."));
    std::vector<std::string> transcript = folder.Transcript();
    // The refusal's line carries the size it was asked for.
    for (std::string& line : transcript) line = line.substr(0, line.find(' ', 5));
    EXPECT_EQ(transcript, c.transcript);
  }
}

// A crash on the UI thread or on a thread of the engine's own, or an abort there, takes one path:
// the crash dialog, exit code 1, and from the crash on no message reaches the host's objects,
// neither the dialog's own activation messages nor what other programs send while it shows.
TEST(HostFailureTest, CrashOnAnyThreadShowsCrashDialogAndNoMessageReachesTheHostAfter) {
  for (const std::string crash : {"crash", "crash-thread", "abort-thread"}) {
    SCOPED_TRACE(crash);
    RunFolder folder(
        "watch 0x0006  # WM_ACTIVATE\n"
        "watch 0x001c  # WM_ACTIVATEAPP\n"
        "watch 0x0086  # WM_NCACTIVATE\n"
        "watch 0x0005  # WM_SIZE\n"
        "watch 0x001d  # WM_FONTCHANGE\n" +
        crash + "\n");
    HostProcess host(folder);
    HWND dialog = WaitForWindow(host.process_id(), L"#32770");
    ASSERT_NE(dialog, nullptr);
    HWND window = WaitForWindow(host.process_id());
    ASSERT_NE(window, nullptr);
    SendToWindow(window, WM_SIZE, SIZE_RESTORED, MAKELPARAM(640, 480));
    SendToWindow(window, WM_FONTCHANGE);
    EXPECT_EQ(DialogText(dialog), kCrashText);
    ::PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(host.WaitForExit(), 1u);

    // The crash came after a normal start, and nothing of the host ran after it.
    EXPECT_TRUE(folder.TranscriptHas("next-frame"));
    EXPECT_TRUE(folder.TranscriptHas(crash));
    EXPECT_THAT(folder.TranscriptAfter(crash), IsEmpty());
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
