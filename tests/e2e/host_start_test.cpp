// A normal start and close of kestro_pos.exe: what reaches the engine, the plug-in registration
// order, the window's size and visibility, and the exit code.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/host_harness.h"

namespace kestro_e2e {
namespace {

using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

const std::vector<std::string> kRegistration = {
    "registrar AudioplayersWindowsPlugin",
    "plugin AudioplayersWindowsPluginRegisterWithRegistrar",
    "registrar ConnectivityPlusWindowsPlugin",
    "plugin ConnectivityPlusWindowsPluginRegisterWithRegistrar",
    "registrar FileSelectorWindows",
    "plugin FileSelectorWindowsRegisterWithRegistrar",
    "registrar FlutterPosPrinterPlatformPlugin",
    "plugin FlutterPosPrinterPlatformPluginRegisterWithRegistrar",
    "registrar FlutterSecureStorageWindowsPlugin",
    "plugin FlutterSecureStorageWindowsPluginRegisterWithRegistrar",
    "registrar LocalAuthPlugin",
    "plugin LocalAuthPluginRegisterWithRegistrar",
    "registrar PermissionHandlerWindowsPlugin",
    "plugin PermissionHandlerWindowsPluginRegisterWithRegistrar",
    "registrar UrlLauncherWindows",
    "plugin UrlLauncherWindowsRegisterWithRegistrar",
    "registrar ThermalPrinterPlugin",
    "callback com.kestro.pos/thermal_printer",
};

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

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.rfind(prefix, 0) == 0;
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
    if (*window == nullptr) *window = FindProcessWindow(host.process_id(), kWindowClass, kTitle);
    if (*window == nullptr) continue;
    FrozenUiThread frozen(host.main_thread());
    bool view_created = false;
    for (const std::string& line : folder.Transcript()) {
      if (line == "frame") return sampled;
      if (StartsWith(line, "view ")) view_created = true;
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

TEST(HostStartTest, RegistersPluginsShowsWindowAfterFirstFrameAndExitsZeroOnClose) {
  // The window stays hidden for the few milliseconds between creating the view and the first
  // frame. A start in which no sample hit that span proves nothing and is repeated.
  for (int attempt = 0; attempt < 10; ++attempt) {
    RunFolder folder("# idle until the test closes the window\n");
    HostProcess host(folder);
    HWND window = nullptr;
    const bool sampled = SampledHiddenBetweenViewAndFirstFrame(host, folder, &window);
    if (::testing::Test::HasFailure()) return;

    ASSERT_TRUE(folder.WaitForTranscriptLine("next-frame"));
    EXPECT_TRUE(::IsWindowVisible(window));
    const RECT client = ClientRect(window);
    ::PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(host.WaitForExit(), 0u);

    std::vector<std::string> expected = {
        "args 0", "view " + std::to_string(client.right) + " " + std::to_string(client.bottom)};
    expected.insert(expected.end(), kRegistration.begin(), kRegistration.end());
    expected.insert(expected.end(), {"redraw", "frame", "next-frame", "frame", "destroyed"});
    EXPECT_THAT(folder.Transcript(), ElementsAreArray(expected));
    EXPECT_THAT(host.StandardErrorLines(), IsEmpty());
    if (sampled) return;
  }
  FAIL() << "no sample fell between the view's creation and the first frame in 10 starts";
}

TEST(HostStartTest, ArgumentsReachTheEngineAsUtf8) {
  struct Case {
    std::wstring command_line;
    std::vector<std::string> arguments;
  };
  const Case cases[] = {
      {L"", {}},
      {L"a \"b c\" d", {"a", "b c", "d"}},
      {L"--printer \"Каса №1\" Привіт", {"--printer", u8"Каса №1", u8"Привіт"}},
      {L"\"\" x", {"", "x"}},
  };
  for (const Case& c : cases) {
    RunFolder folder("close\n");
    HostProcess host(folder, c.command_line);
    EXPECT_EQ(host.WaitForExit(), 0u);
    std::string args = "args " + std::to_string(c.arguments.size());
    for (const std::string& argument : c.arguments) args += " " + Hex(argument);
    const std::vector<std::string> transcript = folder.Transcript();
    ASSERT_FALSE(transcript.empty());
    EXPECT_EQ(transcript.front(), args);
  }
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
    ScopedLogPixels log_pixels(c.dpi);
    RunFolder folder("");
    HostProcess host(folder);
    ASSERT_TRUE(folder.WaitForTranscriptLine("next-frame")) << c.dpi;
    HWND window = FindProcessWindow(host.process_id(), kWindowClass, kTitle);
    ASSERT_NE(window, nullptr);
    const RECT rect = WindowRect(window);
    EXPECT_EQ(rect.left, c.window.left) << c.dpi;
    EXPECT_EQ(rect.top, c.window.top) << c.dpi;
    EXPECT_EQ(rect.right, c.window.right) << c.dpi;
    EXPECT_EQ(rect.bottom, c.window.bottom) << c.dpi;
    // The view gets the client area, which is smaller than the outer size.
    const RECT client = ClientRect(window);
    EXPECT_LT(client.right, c.window.right - c.window.left);
    EXPECT_LT(client.bottom, c.window.bottom - c.window.top);
    EXPECT_TRUE(folder.TranscriptHas("view " + std::to_string(client.right) + " " +
                                     std::to_string(client.bottom)))
        << c.dpi;
    ::PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(host.WaitForExit(), 0u);
  }
}

}  // namespace
}  // namespace kestro_e2e
