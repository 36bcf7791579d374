// Window messages through the running kestro_pos.exe: the engine library's first look at each
// one, font changes, DPI changes moving the window, the content view filling the client area,
// and the title-bar theme.
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

  // Sends from this process, as the system or another program would; the host answers on its UI
  // thread.
  LRESULT Send(UINT message, WPARAM wparam = 0, LPARAM lparam = 0) {
    DWORD_PTR result = 0;
    if (!::SendMessageTimeoutW(window_, message, wparam, lparam, SMTO_ABORTIFHUNG, kTimeoutMs,
                               &result)) {
      ADD_FAILURE() << "the host did not answer message " << message;
    }
    return static_cast<LRESULT>(result);
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

// A resize from outside sends WM_SIZE. Unclaimed, the host moves the view onto the new client
// area; claimed by the engine, the host's own handling never runs and the view stays as it was.
TEST(WindowMessageTest, ResizeReachesTheHostOnlyWhenTheEngineDoesNotClaimIt) {
  struct Case {
    const char* script_line;
    const char* transcript_line;
    bool view_follows;
  };
  const Case cases[] = {
      {"watch 0x0005", "offered 0x0005", true},
      {"claim 0x0005 4242", "claimed 0x0005 4242", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script_line);
    RunningHost host(std::string(c.script_line) + "\n", c.script_line);
    ASSERT_NE(host.view(), nullptr);
    const RECT before = host.ViewRect();
    EXPECT_EQ(RectText(before), RectText(ClientRect(host.window())));

    ASSERT_TRUE(::SetWindowPos(host.window(), nullptr, 0, 0, 900, 600,
                               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE));
    EXPECT_TRUE(host.folder().WaitForTranscriptLine(c.transcript_line));
    host.Send(WM_NULL);  // the resize has been handled to the end once this is answered
    const RECT client = ClientRect(host.window());
    EXPECT_NE(RectText(client), RectText(before));
    EXPECT_EQ(RectText(host.ViewRect()), RectText(c.view_follows ? client : before));
    // A claimed message gets exactly the engine's answer; the host's own would be 0.
    EXPECT_EQ(host.Send(WM_SIZE, SIZE_RESTORED, MAKELPARAM(1, 1)), c.view_follows ? 0 : 4242);
    host.Close();
  }
}

// The engine sees a font change first; unless it claims the change, the host then has the engine
// reload its fonts, once per message.
TEST(WindowMessageTest, FontChangeReloadsFontsUnlessTheEngineClaimsIt) {
  struct Case {
    const char* script_line;
    std::vector<std::string> per_message;
  };
  const Case cases[] = {
      {"watch 0x001d", {"offered 0x001d", "fonts-reloaded"}},
      {"claim 0x001d 0", {"claimed 0x001d 0"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script_line);
    RunningHost host(std::string(c.script_line) + "\n", c.script_line);
    ASSERT_NE(host.window(), nullptr);
    EXPECT_EQ(host.Send(WM_FONTCHANGE), 0);
    EXPECT_EQ(host.Send(WM_FONTCHANGE), 0);
    host.Close();
    std::vector<std::string> expected = c.per_message;
    expected.insert(expected.end(), c.per_message.begin(), c.per_message.end());
    expected.push_back("destroyed");
    EXPECT_THAT(host.folder().TranscriptAfter(c.script_line), ElementsAreArray(expected));
  }
}

// WM_DPICHANGED, sent by the engine on the UI thread with a rectangle that lives only during the
// call, moves and sizes the window to exactly that rectangle; the view keeps filling the client
// area.
TEST(WindowMessageTest, DpiChangeMovesTheWindowToTheSuggestedRectangle) {
  const RECT suggested{100, 50, 1300, 950};
  RunningHost host("dpi-changed 144 100 50 1300 950\n", "dpi-changed 144 100 50 1300 950");
  ASSERT_NE(host.view(), nullptr);
  EXPECT_EQ(RectText(WindowRect(host.window())), RectText(suggested));
  EXPECT_EQ(RectText(host.ViewRect()), RectText(ClientRect(host.window())));
  host.Close();
}

// Wine keeps no title-bar attribute, so the fake dwmapi.dll beside the executable records what the
// host sets: dark (attribute 20 = 1) for AppsUseLightTheme 0 at creation, light (0) once the
// value is 1 and the colourisation-change message arrives.
TEST(WindowMessageTest, TitleBarFollowsTheAppTheme) {
  ScopedAppsUseLightTheme theme(0);
  RunningHost host("", "next-frame", /*with_fake_dwmapi=*/true);
  ASSERT_NE(host.window(), nullptr);
  EXPECT_THAT(host.folder().DwmCalls(), ElementsAre("20 1"));
  theme.Set(1);
  EXPECT_EQ(host.Send(kDwmColorizationColorChanged), 0);
  EXPECT_THAT(host.folder().DwmCalls(), ElementsAre("20 1", "20 0"));
  host.Close();
}

}  // namespace
}  // namespace kestro_e2e
