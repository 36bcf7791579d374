// The stand-in engine with a view: frames and the next-frame callback on the UI thread, the
// application script against the host's channel callbacks, replies at most once, closing the
// top-level window, malformed script lines, and the crash reaching the host's filter.
#include "tests/standins/standin_fixture.h"

namespace kestro_standin_test {
namespace {

using StandinViewTest = StandinTest;
using StandinViewDeathTest = StandinTest;

// A host channel callback: records each message and answers it `answers` times from inside the
// callback; with 0 it keeps the response handle and a messenger reference to answer later.
struct ChannelListener {
  ChannelListener(int answers_per_message, std::vector<uint8_t> answer_bytes)
      : answers(answers_per_message), answer(std::move(answer_bytes)) {}

  int answers;
  std::vector<uint8_t> answer;
  std::vector<std::vector<uint8_t>> messages;
  FlutterDesktopMessengerRef kept_messenger = nullptr;
  const FlutterDesktopMessageResponseHandle* kept_handle = nullptr;

  static void OnMessage(FlutterDesktopMessengerRef messenger, const FlutterDesktopMessage* message,
                        void* user_data) {
    auto* self = static_cast<ChannelListener*>(user_data);
    self->messages.emplace_back(message->message, message->message + message->message_size);
    if (self->answers == 0) {
      self->kept_messenger = FlutterDesktopMessengerAddRef(messenger);
      self->kept_handle = message->response_handle;
    }
    for (int i = 0; i < self->answers; ++i) {
      FlutterDesktopMessengerSendResponse(messenger, message->response_handle, self->answer.data(),
                                          self->answer.size());
    }
  }
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

TEST_F(StandinViewTest, PlaysTheScriptAgainstHostCallbacksAndClosesTheWindow) {
  BundleProperties properties(
      WriteBundle("# the application's side of the conversation\n"
                  "send kestro/echo 0102ff00\n"
                  "\n"
                  "send kestro/silent -\r\n"
                  "send kestro/gone 07 # its callback was removed\n"
                  "wait 20\n"
                  "close\n"
                  "send kestro/echo 09\n"));
  FlutterDesktopEngineRef engine = FlutterDesktopEngineCreate(properties.get());
  ASSERT_NE(engine, nullptr);
  TestHost host(engine);
  ASSERT_NE(host.controller(), nullptr);
  EXPECT_EQ(GetAncestor(host.view(), GA_ROOT), host.window());
  // Shown here only: hiding a shown window costs Wine seconds without a window manager.
  ShowWindow(host.window(), SW_SHOW);

  FlutterDesktopMessengerRef messenger = FlutterDesktopPluginRegistrarGetMessenger(
      FlutterDesktopEngineGetPluginRegistrar(engine, "EchoPlugin"));
  ASSERT_EQ(messenger, FlutterDesktopEngineGetMessenger(engine));
  ChannelListener echo(2, {0xab, 0xcd});
  ChannelListener silent(0, {});
  ChannelListener gone(1, {0x01});
  FlutterDesktopMessengerSetCallback(messenger, "kestro/echo", &ChannelListener::OnMessage, &echo);
  FlutterDesktopMessengerSetCallback(messenger, "kestro/silent", &ChannelListener::OnMessage,
                                     &silent);
  FlutterDesktopMessengerSetCallback(messenger, "kestro/gone", &ChannelListener::OnMessage, &gone);
  FlutterDesktopMessengerSetCallback(messenger, "kestro/gone", nullptr, nullptr);
  FrameWatch frame;
  FlutterDesktopEngineSetNextFrameCallback(engine, &FrameWatch::OnFrame, &frame);

  ASSERT_TRUE(host.RunUntilClosed()) << "the script's close never reached the window";
  EXPECT_TRUE(host.close_received());
  EXPECT_EQ(frame.runs, 1);
  EXPECT_EQ(frame.thread, GetCurrentThreadId());
  EXPECT_EQ(echo.messages, (std::vector<std::vector<uint8_t>>{{0x01, 0x02, 0xff, 0x00}}));
  EXPECT_EQ(silent.messages, (std::vector<std::vector<uint8_t>>{{}}));
  EXPECT_TRUE(gone.messages.empty());

  // The unanswered message outlives the engine: answering it now reaches no one, silently.
  ASSERT_NE(silent.kept_messenger, nullptr);
  EXPECT_FALSE(FlutterDesktopMessengerIsAvailable(silent.kept_messenger));
  const uint8_t late[] = {0x05};
  FlutterDesktopMessengerSendResponse(silent.kept_messenger, silent.kept_handle, late, 1);
  FlutterDesktopMessengerRelease(silent.kept_messenger);

  EXPECT_EQ(Transcript(), (std::vector<std::string>{
                              "args 0",
                              "view 320 240",
                              "registrar EchoPlugin",
                              "callback kestro/echo",
                              "callback kestro/silent",
                              "callback kestro/gone",
                              "callback-removed kestro/gone",
                              "frame",
                              "next-frame",
                              "send kestro/echo 0102ff00",
                              "reply kestro/echo abcd",
                              "reply-duplicate kestro/echo",
                              "send kestro/silent -",
                              "reply kestro/silent none",
                              "send kestro/gone 07",
                              "reply kestro/gone none",
                              "destroyed",
                          }));
}

struct RedrawingHost {
  RedrawingHost(FlutterDesktopEngineRef host_engine,
                FlutterDesktopViewControllerRef host_controller)
      : engine(host_engine), controller(host_controller) {}

  FlutterDesktopEngineRef engine;
  FlutterDesktopViewControllerRef controller;
  bool accepted = false;
  int replies_during_send = -1;
  int replies = 0;
  size_t reply_size = 99;
  DWORD reply_thread = 0;
  FrameWatch second_frame;

  static void OnFirstFrame(void* user_data) {
    auto* self = static_cast<RedrawingHost*>(user_data);
    FlutterDesktopViewControllerForceRedraw(self->controller);
    FlutterDesktopEngineReloadSystemFonts(self->engine);
    FlutterDesktopMessengerRef messenger = FlutterDesktopEngineGetMessenger(self->engine);
    const uint8_t zero[] = {0x00};
    FlutterDesktopMessengerSend(messenger, "kestro/log", zero, 1);
    self->accepted = FlutterDesktopMessengerSendWithReply(messenger, "kestro/ask", nullptr, 0,
                                                          &RedrawingHost::OnReply, self);
    self->replies_during_send = self->replies;
    FlutterDesktopEngineSetNextFrameCallback(self->engine, &FrameWatch::OnFrame,
                                             &self->second_frame);
  }
  static void OnReply(const uint8_t*, size_t size, void* user_data) {
    auto* self = static_cast<RedrawingHost*>(user_data);
    ++self->replies;
    self->reply_size = size;
    self->reply_thread = GetCurrentThreadId();
  }
};

TEST_F(StandinViewTest, RedrawProducesAFrameAndHostSendsReachTheApplication) {
  BundleProperties properties(WriteBundle("wait 50\nclose\n"));
  FlutterDesktopEngineRef engine = FlutterDesktopEngineCreate(properties.get());
  ASSERT_NE(engine, nullptr);
  TestHost host(engine, 640, 480);
  ASSERT_NE(host.controller(), nullptr);
  RedrawingHost redrawing(engine, host.controller());
  FlutterDesktopEngineSetNextFrameCallback(engine, &RedrawingHost::OnFirstFrame, &redrawing);

  ASSERT_TRUE(host.RunUntilClosed());
  EXPECT_TRUE(redrawing.accepted);
  EXPECT_EQ(redrawing.replies_during_send, 0) << "the reply must come from the message loop";
  EXPECT_EQ(redrawing.replies, 1);
  EXPECT_EQ(redrawing.reply_size, 0u);
  EXPECT_EQ(redrawing.reply_thread, GetCurrentThreadId());
  EXPECT_EQ(redrawing.second_frame.runs, 1);
  EXPECT_EQ(Transcript(), (std::vector<std::string>{
                              "args 0",
                              "view 640 480",
                              "frame",
                              "redraw",
                              "fonts-reloaded",
                              "event kestro/log 00",
                              "event kestro/ask -",
                              "next-frame",
                              "frame",
                              "next-frame",
                              "destroyed",
                          }));
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
                  "post 0x0401 7 9\n"
                  "send kestro/x 0a 0B\n"
                  "close\n"));
  FlutterDesktopEngineRef engine = FlutterDesktopEngineCreate(properties.get());
  ASSERT_NE(engine, nullptr);
  TestHost host(engine);
  ASSERT_NE(host.controller(), nullptr);

  ASSERT_TRUE(host.RunUntilClosed());
  ASSERT_EQ(host.user_messages().size(), 1u);
  EXPECT_EQ(host.user_messages()[0].message, 0x0401u);
  EXPECT_EQ(host.user_messages()[0].wparam, 7u);
  EXPECT_EQ(host.user_messages()[0].lparam, 9);
  EXPECT_EQ(Transcript(), (std::vector<std::string>{
                              "args 0",
                              "view 320 240",
                              "frame",
                              "script-error 1",
                              "script-error 2",
                              "script-error 3",
                              "script-error 4",
                              "script-error 5",
                              "script-error 6",
                              "script-error 7",
                              "script-error 8",
                              "send kestro/x 0a0b",
                              "reply kestro/x none",
                              "destroyed",
                          }));
}

TEST_F(StandinViewTest, RefusedViewLeavesTheEngineToItsOwner) {
  BundleProperties properties(WriteBundle("refuse-view\n"));
  FlutterDesktopEngineRef engine = FlutterDesktopEngineCreate(properties.get());
  ASSERT_NE(engine, nullptr);
  EXPECT_EQ(FlutterDesktopViewControllerCreate(800, 600, engine), nullptr);
  EXPECT_TRUE(FlutterDesktopMessengerIsAvailable(FlutterDesktopEngineGetMessenger(engine)));
  EXPECT_TRUE(FlutterDesktopEngineDestroy(engine));
  EXPECT_EQ(Transcript(),
            (std::vector<std::string>{"args 0", "view-refused 800 600", "destroyed"}));
}

TEST_F(StandinViewTest, LeavesTopLevelMessagesToTheHostAndReportsMonitorDpi) {
  BundleProperties properties(WriteBundle(""));
  FlutterDesktopEngineRef engine = FlutterDesktopEngineCreate(properties.get());
  ASSERT_NE(engine, nullptr);
  TestHost host(engine);
  ASSERT_NE(host.controller(), nullptr);
  for (UINT message : {WM_SIZE, WM_ACTIVATE, WM_FONTCHANGE, WM_DPICHANGED, WM_DESTROY}) {
    LRESULT result = 12345;
    EXPECT_FALSE(FlutterDesktopViewControllerHandleTopLevelWindowProc(
        host.controller(), host.window(), message, 0, 0, &result));
    EXPECT_EQ(result, 12345) << "the result place was written for message " << message;
  }
  // Wine's default LogPixels is 96; without a monitor the answer is 100 %.
  HMONITOR primary = MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
  EXPECT_EQ(FlutterDesktopGetDpiForMonitor(primary), 96u);
  EXPECT_EQ(FlutterDesktopGetDpiForMonitor(nullptr), 96u);
}

LONG WINAPI ExitOnAccessViolation(EXCEPTION_POINTERS* exception) {
  ExitProcess(exception->ExceptionRecord->ExceptionCode == EXCEPTION_ACCESS_VIOLATION ? 3 : 4);
}

TEST_F(StandinViewDeathTest, CrashReachesTheHostsUnhandledExceptionFilter) {
  BundleProperties properties(WriteBundle("crash\nclose\n"));
  auto run_crashing_script = [&] {
    SetUnhandledExceptionFilter(&ExitOnAccessViolation);
    FlutterDesktopEngineRef engine = FlutterDesktopEngineCreate(properties.get());
    if (engine == nullptr) ExitProcess(5);
    TestHost host(engine);
    host.RunUntilClosed();
  };
  EXPECT_EXIT(run_crashing_script(), ::testing::ExitedWithCode(3), "");
}

}  // namespace
}  // namespace kestro_standin_test
