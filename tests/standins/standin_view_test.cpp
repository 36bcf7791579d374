// The stand-in engine with a view: the next-frame callback on the UI thread, replies to host sends
// from the message loop, the script's malformed lines and posted messages, and late replies (send
// waits up to the reply time-out while the loop runs, send-async goes on, await-replies waits for
// what is owed, a reply after the time-out is written as late).
#include <map>
#include <utility>

#include "tests/standins/standin_fixture.h"

namespace kestro_standin_test {
namespace {

using StandinViewTest = StandinTest;
using Lines = std::vector<std::string>;

// Plays the host's part: a top-level window whose content is the engine's view, and the message
// loop. Messages in the WM_USER range that reach the window are kept.
class TestHost {
 public:
  explicit TestHost(FlutterDesktopEngineRef engine) : engine_(engine) {
    static const ATOM atom = [] {
      WNDCLASSEXW window_class = {};
      window_class.cbSize = sizeof window_class;
      window_class.lpfnWndProc = &TestHost::WindowProc;
      window_class.hInstance = GetModuleHandleW(nullptr);
      window_class.lpszClassName = L"KESTRO_STANDIN_TEST_HOST";
      return RegisterClassExW(&window_class);
    }();
    if (atom == 0) return;
    window_ = CreateWindowExW(0, L"KESTRO_STANDIN_TEST_HOST", L"", WS_OVERLAPPEDWINDOW, 10, 10, 360,
                              300, nullptr, nullptr, GetModuleHandleW(nullptr), this);
    controller_ = FlutterDesktopViewControllerCreate(320, 240, engine);
    if (window_ == nullptr || controller_ == nullptr) return;
    // The host makes the view its window's content the same way.
    HWND view = FlutterDesktopViewGetHWND(FlutterDesktopViewControllerGetView(controller_));
    SetParent(view, window_);
    MoveWindow(view, 0, 0, 320, 240, TRUE);
  }
  ~TestHost() {
    for (const auto& answer : answers()) KillTimer(nullptr, answer.first);
    answers().clear();
    if (window_ != nullptr) DestroyWindow(window_);
    // The quit request of an early end must not end the next test's message loop.
    MSG quit;
    while (PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
  }

  // Answers each message on "kestro/late" with its own bytes after (first byte × 20) ms, from a
  // timer on the UI thread.
  void AnswerLate() {
    FlutterDesktopMessengerSetCallback(FlutterDesktopEngineGetMessenger(engine_), "kestro/late",
                                       &TestHost::OnMessage, this);
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
  std::vector<MSG> user_messages;

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
    const UINT_PTR timer = SetTimer(nullptr, 0, delay, &TestHost::OnTimer);
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
    auto* host = reinterpret_cast<TestHost*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (host != nullptr && message == WM_DESTROY) {
      FlutterDesktopViewControllerDestroy(std::exchange(host->controller_, nullptr));
      host->window_ = nullptr;
      PostQuitMessage(0);
    } else if (host != nullptr && message >= WM_USER && message < 0xC000) {
      host->user_messages.push_back(MSG{window, message, wparam, lparam, 0, {}});
    }
    return DefWindowProcW(window, message, wparam, lparam);
  }

  FlutterDesktopEngineRef engine_;
  HWND window_ = nullptr;
  FlutterDesktopViewControllerRef controller_ = nullptr;
};

struct FrameWatch {
  int runs = 0;
  DWORD thread = 0;
  static void OnFrame(void* user_data) {
    auto* self = static_cast<FrameWatch*>(user_data);
    ++self->runs;
    self->thread = GetCurrentThreadId();
  }
};

// The first frame's callback asks for two more frames, sends with a reply and installs a second
// callback.
struct FirstFrame : FrameWatch {
  FlutterDesktopEngineRef engine = nullptr;
  FlutterDesktopViewControllerRef controller = nullptr;
  int replies_during_send = -1;
  int replies = 0;
  DWORD reply_thread = 0;
  FrameWatch second;

  static void OnFirstFrame(void* user_data) {
    auto* self = static_cast<FirstFrame*>(user_data);
    OnFrame(self);
    // Two more frames: the second callback must run on the first of them only.
    FlutterDesktopViewControllerForceRedraw(self->controller);
    FlutterDesktopViewControllerForceRedraw(self->controller);
    FlutterDesktopMessengerSendWithReply(FlutterDesktopEngineGetMessenger(self->engine),
                                         "kestro/ask", nullptr, 0, &OnReply, self);
    self->replies_during_send = self->replies;
    FlutterDesktopEngineSetNextFrameCallback(self->engine, &FrameWatch::OnFrame, &self->second);
  }
  static void OnReply(const uint8_t*, size_t, void* user_data) {
    auto* self = static_cast<FirstFrame*>(user_data);
    ++self->replies;
    self->reply_thread = GetCurrentThreadId();
  }
};

TEST_F(StandinViewTest, NextFrameCallbackRunsOncePerInstallationOnTheUiThread) {
  BundleProperties properties(WriteBundle("wait 50\nclose\n"));
  FlutterDesktopEngineRef engine = FlutterDesktopEngineCreate(properties.get());
  ASSERT_NE(engine, nullptr);
  TestHost host(engine);
  ASSERT_NE(host.controller(), nullptr);
  FirstFrame first;
  first.engine = engine;
  first.controller = host.controller();
  FlutterDesktopEngineSetNextFrameCallback(engine, &FirstFrame::OnFirstFrame, &first);

  ASSERT_TRUE(host.RunUntilClosed()) << "the script's close never reached the window";
  EXPECT_EQ(first.runs, 1);
  EXPECT_EQ(first.thread, GetCurrentThreadId());
  EXPECT_EQ(first.second.runs, 1);
  EXPECT_EQ(first.second.thread, GetCurrentThreadId());
  EXPECT_EQ(first.replies_during_send, 0) << "with a view the reply comes from the message loop";
  EXPECT_EQ(first.replies, 1);
  EXPECT_EQ(first.reply_thread, GetCurrentThreadId());
  EXPECT_EQ(Transcript(), (std::vector<std::string>{"args 0", "view 320 240", "frame", "redraw",
                                                    "redraw", "event kestro/ask -", "next-frame",
                                                    "frame", "next-frame", "frame", "destroyed"}));
}

TEST_F(StandinViewTest, ReportsMalformedLinesAndPostsMessagesToTheTopLevelWindow) {
  BundleProperties properties(
      WriteBundle("send kestro/x 123\n"
                  "send kestro/x zz\n"
                  "send kestro/x\n"
                  "wait\n"
                  "wait soon\n"
                  "post\n"
                  "close now\n"
                  "dance\n"
                  "watch\n"
                  "claim 0x0005\n"
                  "dpi-changed 96 0 0 10\n"
                  "crash-thread now\n"
                  "# a comment, then an empty line\n"
                  "\r\n"
                  "post 0x0401 7 9\n"
                  "send kestro/x 0a 0B # two hex words\n"
                  "close\n"));
  FlutterDesktopEngineRef engine = FlutterDesktopEngineCreate(properties.get());
  ASSERT_NE(engine, nullptr);
  TestHost host(engine);
  ASSERT_NE(host.controller(), nullptr);

  ASSERT_TRUE(host.RunUntilClosed());
  ASSERT_EQ(host.user_messages.size(), 1u);
  EXPECT_EQ(host.user_messages[0].message, 0x0401u);
  EXPECT_EQ(host.user_messages[0].wParam, 7u);
  EXPECT_EQ(host.user_messages[0].lParam, 9);
  std::vector<std::string> expected = {"args 0", "view 320 240", "frame"};
  for (int line = 1; line <= 12; ++line) expected.push_back("script-error " + std::to_string(line));
  expected.insert(expected.end(), {"send kestro/x 0a0b", "reply kestro/x none", "destroyed"});
  EXPECT_EQ(Transcript(), expected);
}

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

TEST_F(StandinViewTest, SendWaitsUpToTheTimeOutAndLateRepliesAreMarked) {
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
  TestHost host(engine);
  ASSERT_NE(host.controller(), nullptr);
  host.AnswerLate();
  ASSERT_TRUE(host.RunUntilClosed());
  EXPECT_EQ(Played(Transcript()),
            (Lines{"send kestro/late 01", "reply kestro/late 01", "send kestro/late 28",
                   "reply kestro/late none", "send kestro/late 32", "send kestro/late 05",
                   "reply kestro/late 05", "reply-late kestro/late 28", "reply kestro/late 32",
                   "destroyed"}));
}

TEST_F(StandinViewTest, ClosingTheWindowDuringAWaitStopsTheScript) {
  // 64 = 2 s: the window closes while the script waits for it.
  BundleProperties properties(WriteBundle("send kestro/late 64\nsend kestro/late 01\n"));
  FlutterDesktopEngineRef engine = FlutterDesktopEngineCreate(properties.get());
  ASSERT_NE(engine, nullptr);
  TestHost host(engine);
  ASSERT_NE(host.controller(), nullptr);
  host.AnswerLate();
  ASSERT_TRUE(host.RunUntilClosed(300));
  EXPECT_EQ(Played(Transcript()), (Lines{"send kestro/late 64", "destroyed"}));
}

}  // namespace
}  // namespace kestro_standin_test
