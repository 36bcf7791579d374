// The stand-in engine's script waits for late replies: send waits up to the reply time-out while
// the message loop runs, send-async goes on, await-replies waits for what is owed, and a reply
// after the time-out is written as late.
#include <map>
#include <utility>

#include "tests/standins/standin_fixture.h"

namespace kestro_standin_test {
namespace {

using StandinLateReplyTest = StandinTest;
using Lines = std::vector<std::string>;

// The host's part: a top-level window holding the view, a callback on "kestro/late" that answers
// each message with its own bytes after (first byte × 20) ms from a timer on the UI thread, and
// the message loop.
class LateHost {
 public:
  explicit LateHost(FlutterDesktopEngineRef engine) : engine_(engine) {
    static const ATOM atom = [] {
      WNDCLASSEXW window_class = {};
      window_class.cbSize = sizeof window_class;
      window_class.lpfnWndProc = &LateHost::WindowProc;
      window_class.hInstance = GetModuleHandleW(nullptr);
      window_class.lpszClassName = L"KESTRO_STANDIN_LATE_HOST";
      return RegisterClassExW(&window_class);
    }();
    if (atom == 0) return;
    window_ = CreateWindowExW(0, L"KESTRO_STANDIN_LATE_HOST", L"", WS_OVERLAPPEDWINDOW, 10, 10, 360,
                              300, nullptr, nullptr, GetModuleHandleW(nullptr), this);
    controller_ = FlutterDesktopViewControllerCreate(320, 240, engine);
    if (window_ == nullptr || controller_ == nullptr) return;
    SetParent(FlutterDesktopViewGetHWND(FlutterDesktopViewControllerGetView(controller_)), window_);
    FlutterDesktopMessengerSetCallback(FlutterDesktopEngineGetMessenger(engine), "kestro/late",
                                       &LateHost::OnMessage, this);
  }
  ~LateHost() {
    for (const auto& answer : answers()) KillTimer(nullptr, answer.first);
    answers().clear();
    if (window_ != nullptr) DestroyWindow(window_);
    MSG quit;
    while (PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
  }

  // Runs the message loop until the window is gone (false after 10 s); close_after_ms > 0 closes
  // the window itself after that long.
  bool RunUntilClosed(UINT close_after_ms = 0) {
    const UINT_PTR limit = SetTimer(nullptr, 0, 10000, nullptr);
    const UINT_PTR close = close_after_ms > 0 ? SetTimer(nullptr, 0, close_after_ms, nullptr) : 0;
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
      if (message.message == WM_TIMER && message.hwnd == nullptr && message.wParam == limit) break;
      if (message.message == WM_TIMER && message.hwnd == nullptr && close != 0 &&
          message.wParam == close) {
        PostMessageW(window_, WM_CLOSE, 0, 0);
        continue;
      }
      DispatchMessageW(&message);
    }
    KillTimer(nullptr, limit);
    if (close != 0) KillTimer(nullptr, close);
    return window_ == nullptr;
  }

  FlutterDesktopViewControllerRef controller() const { return controller_; }

 private:
  struct Answer {
    FlutterDesktopMessengerRef messenger;
    const FlutterDesktopMessageResponseHandle* handle;
    std::vector<uint8_t> bytes;
  };
  static std::map<UINT_PTR, Answer>& answers() {
    static std::map<UINT_PTR, Answer> pending;
    return pending;
  }

  static void OnMessage(FlutterDesktopMessengerRef messenger, const FlutterDesktopMessage* message,
                        void*) {
    const UINT delay = message->message_size > 0 ? message->message[0] * 20u : 0u;
    const UINT_PTR timer = SetTimer(nullptr, 0, delay, &LateHost::OnTimer);
    answers()[timer] = Answer{messenger,
                              message->response_handle,
                              {message->message, message->message + message->message_size}};
  }
  static void CALLBACK OnTimer(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    auto found = answers().find(timer);
    if (found == answers().end()) return;
    const Answer answer = std::move(found->second);
    answers().erase(found);
    FlutterDesktopMessengerSendResponse(answer.messenger, answer.handle, answer.bytes.data(),
                                        answer.bytes.size());
  }
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_NCCREATE) {
      auto* create = reinterpret_cast<CREATESTRUCTW*>(lparam);
      SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* host = reinterpret_cast<LateHost*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (host != nullptr && message == WM_DESTROY) {
      FlutterDesktopViewControllerDestroy(std::exchange(host->controller_, nullptr));
      host->window_ = nullptr;
      PostQuitMessage(0);
    }
    return DefWindowProcW(window, message, wparam, lparam);
  }

  FlutterDesktopEngineRef engine_;
  HWND window_ = nullptr;
  FlutterDesktopViewControllerRef controller_ = nullptr;
};

// The transcript from the view on, without frames (they come whenever the view paints).
Lines Played(const Lines& transcript) {
  Lines played;
  for (const std::string& line : transcript) {
    if (line.rfind("send ", 0) == 0 || line.rfind("reply", 0) == 0 || line == "destroyed") {
      played.push_back(line);
    }
  }
  return played;
}

TEST_F(StandinLateReplyTest, SendWaitsUpToTheTimeOutAndLateRepliesAreMarked) {
  // Delays: 01 = 20 ms, 28 = 800 ms, 32 = 1 000 ms, 05 = 100 ms.
  BundleProperties properties(
      WriteBundle("reply-timeout 300\n"
                  "send kestro/late 01\n"
                  "send kestro/late 28\n"
                  "reply-timeout 5000\n"
                  "send-async kestro/late 32\n"
                  "send-async kestro/late 05\n"
                  "await-replies\n"
                  "await-replies\n"
                  "close\n"));
  FlutterDesktopEngineRef engine = FlutterDesktopEngineCreate(properties.get());
  ASSERT_NE(engine, nullptr);
  LateHost host(engine);
  ASSERT_NE(host.controller(), nullptr);
  ASSERT_TRUE(host.RunUntilClosed());
  EXPECT_EQ(Played(Transcript()),
            (Lines{"send kestro/late 01", "reply kestro/late 01", "send kestro/late 28",
                   "reply kestro/late none", "send kestro/late 32", "send kestro/late 05",
                   "reply kestro/late 05", "reply-late kestro/late 28", "reply kestro/late 32",
                   "destroyed"}));
}

TEST_F(StandinLateReplyTest, ClosingTheWindowDuringAWaitStopsTheScript) {
  // 64 = 2 s: the window closes while the script waits for it.
  BundleProperties properties(WriteBundle("send kestro/late 64\nsend kestro/late 01\n"));
  FlutterDesktopEngineRef engine = FlutterDesktopEngineCreate(properties.get());
  ASSERT_NE(engine, nullptr);
  LateHost host(engine);
  ASSERT_NE(host.controller(), nullptr);
  ASSERT_TRUE(host.RunUntilClosed(300));
  EXPECT_EQ(Played(Transcript()), (Lines{"send kestro/late 64", "destroyed"}));
}

}  // namespace
}  // namespace kestro_standin_test
