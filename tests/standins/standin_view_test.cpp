// The stand-in engine with a view: the next-frame callback on the UI thread, replies to host sends
// from the message loop, the script's malformed lines and posted messages, and late replies (send
// waits up to the reply time-out while the loop runs, send-async goes on, await-replies waits for
// what is owed, a reply after the time-out is written as late).
#include <algorithm>
#include <sstream>
#include <tuple>
#include <utility>

#include "tests/standins/standin_fixture.h"

namespace kestro_standin_test {
namespace {

// Plays the host's part for an engine started on the bundle: a top-level window whose content is
// the engine's view, and the message loop. Each message on "kestro/late" is answered with its own
// bytes after (first byte × 20) ms, from a timer on the UI thread.
class TestHost {
 public:
  explicit TestHost(const std::filesystem::path& bundle)
      : properties_(bundle), engine_(FlutterDesktopEngineCreate(properties_.get())) {
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
    controller_ = FlutterDesktopViewControllerCreate(320, 240, engine_);
    if (window_ == nullptr || controller_ == nullptr) return;
    // The host makes the view its window's content the same way.
    HWND view = FlutterDesktopViewGetHWND(FlutterDesktopViewControllerGetView(controller_));
    SetParent(view, window_);
    MoveWindow(view, 0, 0, 320, 240, TRUE);
    FlutterDesktopMessengerSetCallback(FlutterDesktopEngineGetMessenger(engine_), "kestro/late",
                                       &TestHost::OnMessage, this);
  }
  ~TestHost() { DestroyWindow(window_); }  // its timers end with it; none when already gone

  // Runs the message loop until the window is gone (false after 10 s); close_after_ms > 0 closes
  // the window itself after that long.
  bool RunUntilClosed(UINT close_after_ms = 0) {
    if (close_after_ms > 0) SetTimer(window_, kCloseTimer, close_after_ms, nullptr);
    const UINT_PTR limit = SetTimer(nullptr, 0, 10000, nullptr);
    MSG message;
    while (window_ != nullptr && GetMessageW(&message, nullptr, 0, 0) > 0) {
      if (message.message == WM_TIMER && message.hwnd == nullptr && message.wParam == limit) break;
      DispatchMessageW(&message);
    }
    KillTimer(nullptr, limit);
    return window_ == nullptr;
  }

  FlutterDesktopEngineRef engine() const { return engine_; }
  FlutterDesktopViewControllerRef controller() const { return controller_; }
  // What reached the host, in order: its callbacks' events and the messages in the WM_USER range
  // ("message <hex> <wparam> <lparam>"), each marked when it came off the UI thread.
  std::vector<std::string> seen;
  void See(const std::string& event) {
    seen.push_back(event + (GetCurrentThreadId() == ui_thread_ ? "" : " off the UI thread"));
  }

 private:
  static constexpr UINT_PTR kCloseTimer = 0x7FFF;  // late answers use timers 1, 2, ...
  using Answer = std::pair<const FlutterDesktopMessageResponseHandle*, std::vector<uint8_t>>;

  static void OnMessage(FlutterDesktopMessengerRef, const FlutterDesktopMessage* message,
                        void* user_data) {
    auto* host = static_cast<TestHost*>(user_data);
    host->answers_.emplace_back(
        message->response_handle,
        std::vector<uint8_t>(message->message, message->message + message->message_size));
    const UINT delay = message->message_size > 0 ? message->message[0] * 20u : 0u;
    SetTimer(host->window_, host->answers_.size(), delay, nullptr);
  }
  void OnTimer(UINT_PTR timer) {
    KillTimer(window_, timer);
    if (timer == kCloseTimer) {
      PostMessageW(window_, WM_CLOSE, 0, 0);
      return;
    }
    const auto [handle, bytes] = answers_[timer - 1];  // a copy: answering may add answers
    FlutterDesktopMessengerSendResponse(FlutterDesktopEngineGetMessenger(engine_), handle,
                                        bytes.data(), bytes.size());
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
    } else if (host != nullptr && message == WM_TIMER) {
      host->OnTimer(wparam);
    } else if (host != nullptr && message >= WM_USER && message < 0xC000) {
      std::ostringstream text;
      text << "message " << std::hex << std::showbase << message << std::dec << " " << wparam << " "
           << lparam;
      host->See(text.str());
    }
    return DefWindowProcW(window, message, wparam, lparam);
  }

  const DWORD ui_thread_ = GetCurrentThreadId();
  BundleProperties properties_;
  FlutterDesktopEngineRef engine_;
  HWND window_ = nullptr;
  FlutterDesktopViewControllerRef controller_ = nullptr;
  std::vector<Answer> answers_;
};

void OnSecondFrame(void* host) { static_cast<TestHost*>(host)->See("second frame"); }
void OnReply(const uint8_t*, size_t, void* host) { static_cast<TestHost*>(host)->See("reply"); }

// Asks for two more frames, sends with a reply and installs a second callback: that one must run
// on the first of those frames only.
void OnFirstFrame(void* user_data) {
  auto* host = static_cast<TestHost*>(user_data);
  host->See("first frame");
  FlutterDesktopViewControllerForceRedraw(host->controller());
  FlutterDesktopViewControllerForceRedraw(host->controller());
  FlutterDesktopMessengerSendWithReply(FlutterDesktopEngineGetMessenger(host->engine()),
                                       "kestro/ask", nullptr, 0, &OnReply, host);
  host->See("sent");
  FlutterDesktopEngineSetNextFrameCallback(host->engine(), &OnSecondFrame, host);
}

TEST_F(StandinTest, FramesRepliesMalformedLinesAndPostedMessages) {
  TestHost host(
      // Lines 1 to 12 are malformed.
      WriteBundle("send kestro/x 123\nsend kestro/x zz\nsend kestro/x\nwait\nwait soon\npost\n"
                  "close now\ndance\nwatch\nclaim 0x0005\ndpi-changed 96 0 0 10\ncrash-thread now\n"
                  "# a comment, then an empty line\n\r\npost 0x0401 7 9\n"
                  "send kestro/x 0a 0B # two hex words\nwait 50\nclose\n"));
  ASSERT_NE(host.controller(), nullptr);
  FlutterDesktopEngineSetNextFrameCallback(host.engine(), &OnFirstFrame, &host);

  ASSERT_TRUE(host.RunUntilClosed()) << "the script's close never reached the window";
  // With a view the reply comes from the message loop, after the send returned.
  EXPECT_EQ(host.seen,
            (Lines{"first frame", "sent", "second frame", "reply", "message 0x401 7 9"}));
  Lines expected = {"args 0", "view 320 240",       "callback kestro/late", "frame", "redraw",
                    "redraw", "event kestro/ask -", "next-frame",           "frame", "next-frame",
                    "frame"};
  for (int line = 1; line <= 12; ++line) expected.push_back("script-error " + std::to_string(line));
  expected.insert(expected.end(), {"send kestro/x 0a0b", "reply kestro/x none", "destroyed"});
  EXPECT_EQ(Transcript(), expected);
}

TEST(StandinLateReplyTest, SendWaitsUpToTheTimeOutAndLateRepliesAreMarked) {
  const std::tuple<const char*, UINT, Lines> cases[] = {
      // Delays: 01 = 20 ms, 28 = 800 ms, 32 = 1 000 ms, 05 = 100 ms.
      {"reply-timeout 300\nsend kestro/late 01\nsend kestro/late 28\nreply-timeout 5000\n"
       "send-async kestro/late 32\nsend-async kestro/late 05\nawait-replies\nawait-replies\n"
       "close\n",
       0,
       {"args 0", "view 320 240", "callback kestro/late", "send kestro/late 01",
        "reply kestro/late 01", "send kestro/late 28", "reply kestro/late none",
        "send kestro/late 32", "send kestro/late 05", "reply kestro/late 05",
        "reply-late kestro/late 28", "reply kestro/late 32", "destroyed"}},
      // 64 = 2 s: closing the window during the wait stops the script.
      {"send kestro/late 64\nsend kestro/late 01\n",
       300,
       {"args 0", "view 320 240", "callback kestro/late", "send kestro/late 64", "destroyed"}},
  };
  for (const auto& [script, close_after_ms, expected] : cases) {
    SCOPED_TRACE(script);
    StandinFolder folder;
    TestHost host(folder.WriteBundle(script));
    ASSERT_NE(host.controller(), nullptr);
    ASSERT_TRUE(host.RunUntilClosed(close_after_ms));
    Lines played = folder.Transcript();  // without frames: they come whenever the view paints
    played.erase(std::remove(played.begin(), played.end(), "frame"), played.end());
    EXPECT_EQ(played, expected);
  }
}

}  // namespace
}  // namespace kestro_standin_test
