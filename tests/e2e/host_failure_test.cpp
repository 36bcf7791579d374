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

// Reads the dialog the host shows, presses OK and returns the text.
std::wstring AcknowledgeDialog(HostProcess& host) {
  HWND dialog = WaitForDialog(host.process_id());
  if (dialog == nullptr) return L"(no dialog)";
  std::wstring text = DialogText(dialog);
  PressOk(dialog);
  return text;
}

// Sends from this process and waits for the host's answer: the window's thread runs it inside
// the dialog's message loop.
void SendToWindow(HWND window, UINT message, WPARAM wparam = 0, LPARAM lparam = 0) {
  DWORD_PTR result = 0;
  EXPECT_NE(
      ::SendMessageTimeoutW(window, message, wparam, lparam, SMTO_ABORTIFHUNG, kTimeoutMs, &result),
      0)
      << "message " << message;
}

// A window whose start failed still gets messages (the dialog's activation, a font change):
// none may hand the failed view controller's spent handles to the engine library.
void SendWhileTheFailureDialogShows(HWND window) {
  SendToWindow(window, WM_FONTCHANGE);
  SendToWindow(window, WM_ACTIVATEAPP, TRUE);
  SendToWindow(window, WM_SIZE, SIZE_RESTORED, MAKELPARAM(640, 480));
}

TEST(HostFailureTest, IncompleteBundleShowsWindowCreationDialogAndExitsOne) {
  const Bundle bundles[] = {Bundle::kNoDataFolder, Bundle::kNoIcuData, Bundle::kNoAssets,
                            Bundle::kNoApp};
  for (Bundle bundle : bundles) {
    SCOPED_TRACE(static_cast<int>(bundle));
    RunFolder folder("close\n", bundle);
    HostProcess host(folder);
    HWND dialog = WaitForDialog(host.process_id());
    ASSERT_NE(dialog, nullptr);
    // The application window was created but never shown.
    HWND window = FindProcessWindow(host.process_id(), kWindowClass, kTitle);
    ASSERT_NE(window, nullptr);
    EXPECT_FALSE(::IsWindowVisible(window));
    EXPECT_EQ(DialogText(dialog), kWindowCreationText);
    SendWhileTheFailureDialogShows(window);
    PressOk(dialog);
    EXPECT_EQ(host.WaitForExit(), 1u);
    EXPECT_THAT(host.StandardErrorLines(), ElementsAre("Failed to create view controller."));
    // No engine, so nothing reached the application side.
    EXPECT_THAT(folder.Transcript(), IsEmpty());
  }
}

TEST(HostFailureTest, RefusedViewRegistersNoPluginAndExitsOne) {
  RunFolder folder("refuse-view\n");
  HostProcess host(folder);
  ASSERT_NE(WaitForDialog(host.process_id()), nullptr);
  HWND window = FindProcessWindow(host.process_id(), kWindowClass, kTitle);
  ASSERT_NE(window, nullptr);
  SendWhileTheFailureDialogShows(window);
  EXPECT_EQ(AcknowledgeDialog(host), kWindowCreationText);
  EXPECT_EQ(host.WaitForExit(), 1u);
  EXPECT_THAT(host.StandardErrorLines(), ElementsAre("Failed to create view controller."));
  const std::vector<std::string> transcript = folder.Transcript();
  ASSERT_EQ(transcript.size(), 2u);
  EXPECT_EQ(transcript[0], "args 0");
  EXPECT_EQ(transcript[1].rfind("view-refused ", 0), 0u) << transcript[1];
}

// A crash on the UI thread or on a thread of the engine's own takes one path: the crash dialog,
// exit code 1, and from the crash on no message reaches the host's objects, neither the dialog's
// own activation messages nor what other programs send while it shows.
TEST(HostFailureTest, CrashOnAnyThreadShowsCrashDialogAndNoMessageReachesTheHostAfter) {
  for (const std::string crash : {"crash", "crash-thread"}) {
    SCOPED_TRACE(crash);
    RunFolder folder(
        "watch 0x0006  # WM_ACTIVATE\n"
        "watch 0x001c  # WM_ACTIVATEAPP\n"
        "watch 0x0086  # WM_NCACTIVATE\n"
        "watch 0x0005  # WM_SIZE\n"
        "watch 0x001d  # WM_FONTCHANGE\n" +
        crash + "\n");
    HostProcess host(folder);
    HWND dialog = WaitForDialog(host.process_id());
    ASSERT_NE(dialog, nullptr);
    HWND window = FindProcessWindow(host.process_id(), kWindowClass, kTitle);
    ASSERT_NE(window, nullptr);
    SendToWindow(window, WM_SIZE, SIZE_RESTORED, MAKELPARAM(640, 480));
    SendToWindow(window, WM_FONTCHANGE);
    EXPECT_EQ(DialogText(dialog), kCrashText);
    PressOk(dialog);
    EXPECT_EQ(host.WaitForExit(), 1u);

    // The crash came after a normal start, and nothing of the host ran after it.
    EXPECT_TRUE(folder.TranscriptHas("next-frame"));
    EXPECT_TRUE(folder.TranscriptHas(crash));
    EXPECT_THAT(folder.TranscriptAfter(crash), IsEmpty());
  }
}

TEST(HostFailureTest, SecondInstanceRestoresAndActivatesTheFirstWindowWithoutDialog) {
  RunFolder first_folder("# idle\n");
  HostProcess first(first_folder);
  ASSERT_TRUE(first_folder.WaitForTranscriptLine("next-frame"));
  HWND window = FindProcessWindow(first.process_id(), kWindowClass, kTitle);
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

TEST(HostFailureTest, SecondInstanceBeforeAnyWindowShowsAlreadyRunningDialogAndExitsZero) {
  // Holding the mutex stands for a first instance that has not created its window yet.
  HANDLE mutex = ::CreateMutexW(nullptr, TRUE, L"Local\\KestroPOS.SingleInstance");
  ASSERT_NE(mutex, nullptr);
  ASSERT_NE(::GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS))
      << "another kestro_pos.exe is running in this Wine prefix";
  {
    RunFolder folder("close\n");
    HostProcess host(folder);
    EXPECT_EQ(AcknowledgeDialog(host), kAlreadyRunningText);
    EXPECT_EQ(host.WaitForExit(), 0u);
    EXPECT_THAT(folder.Transcript(), IsEmpty());
    EXPECT_EQ(FindProcessWindow(host.process_id(), kWindowClass, kTitle), nullptr);
  }
  ::CloseHandle(mutex);

  // Once the mutex is free again the next start is a first instance.
  RunFolder folder("close\n");
  HostProcess host(folder);
  EXPECT_EQ(host.WaitForExit(), 0u);
  EXPECT_TRUE(folder.TranscriptHas("destroyed"));
}

}  // namespace
}  // namespace kestro_e2e
