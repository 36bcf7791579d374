// Handle ownership, strict UTF-16 conversion, and window procedures before and after a crash.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "win/crash_flag.h"
#include "win/message_only_window.h"
#include "win/scoped_handle.h"
#include "win/text.h"
#include "win/window_procedure.h"

namespace kestro {
namespace {

bool IsOpen(HANDLE handle) {
  DWORD flags = 0;
  return ::GetHandleInformation(handle, &flags) != FALSE;
}

TEST(ScopedHandleTest, ClosesExactlyOnceWhateverMovesIt) {
  HANDLE raw = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ASSERT_TRUE(IsOpen(raw));
  {
    ScopedHandle first(raw);
    ScopedHandle second(std::move(first));
    EXPECT_FALSE(first.IsValid());
    ScopedHandle third;
    third = std::move(second);
    EXPECT_EQ(third.Get(), raw);
  }
  EXPECT_FALSE(IsOpen(raw));

  ScopedHandle kept(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  HANDLE released = kept.Release();
  kept.Reset(INVALID_HANDLE_VALUE);  // a failed CreateFileW's answer is no handle to close
  EXPECT_FALSE(kept.IsValid());
  EXPECT_TRUE(IsOpen(released));
  kept.Reset(released);
  kept.Reset();
  EXPECT_FALSE(IsOpen(released));
}

TEST(TextTest, Utf16ToUtf8RefusesInvalidUtf16Whole) {
  const std::pair<std::wstring, std::string> cases[] = {
      {L"", ""},
      {L"\u041A\u0430\u0441\u0430 \u21161",
       "\xD0\x9A\xD0\xB0\xD1\x81\xD0\xB0 \xE2\x84\x96"
       "1"},
      {L"\xD83D\xDDA8", "\xF0\x9F\x96\xA8"},
      {L"ab\xD800"
       L"c",
       ""},
      {L"ab\xDC00", ""},
  };
  for (const auto& [wide, utf8] : cases) {
    SCOPED_TRACE(utf8);
    EXPECT_EQ(Utf16ToUtf8(wide.c_str()), utf8);
  }
  EXPECT_EQ(Utf16ToUtf8(static_cast<const wchar_t*>(nullptr)), "");
}

constexpr UINT kProbe = WM_APP + 7;
int g_routed = 0;

LRESULT CountingRoute(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message != kProbe) return ::DefWindowProcW(window, message, wparam, lparam);
  g_routed += *static_cast<int*>(MessageOnlyWindow::UserData(window));
  return 42;
}

// Last in this executable: the crash cannot be undone.
TEST(WindowProcedureTest, AfterACrashNoMessageReachesTheRoute) {
  int weight = 5;
  MessageOnlyWindow window;
  ASSERT_TRUE(window.Create(L"KESTRO_WIN_TEST", WindowProcedure<CountingRoute>, &weight));
  MessageOnlyWindow again;  // the class is already there
  ASSERT_TRUE(again.Create(L"KESTRO_WIN_TEST", WindowProcedure<CountingRoute>, &weight));
  HWND handle = ::FindWindowExW(HWND_MESSAGE, nullptr, L"KESTRO_WIN_TEST", nullptr);
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(::SendMessageW(handle, kProbe, 0, 0), 42);
  EXPECT_EQ(g_routed, 5);
  EXPECT_TRUE(MarkHostCrashed());
  EXPECT_FALSE(MarkHostCrashed());
  EXPECT_EQ(::SendMessageW(handle, kProbe, 0, 0), 0);
  EXPECT_EQ(g_routed, 5);
}

}  // namespace
}  // namespace kestro
