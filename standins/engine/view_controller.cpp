// The view controller and its child view window: frames and the next-frame callback on the UI
// thread, the application script player, painting, and the window-related exports.
#include <shellscalingapi.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "standins/engine/engine_state.h"
#include "standins/engine/handle_registry.h"
#include "standins/engine/script.h"
#include "standins/engine/traffic_text.h"
#include "standins/transcript.h"
#include "win/text.h"
#include "win/window_class.h"

using kestro_standin::HandleKind;
using kestro_standin::IsLiveHandle;
using kestro_standin::ScriptCommand;
using kestro_standin::WriteTranscriptLine;

namespace {

constexpr UINT kFrameMessage = WM_APP + 1;
constexpr UINT kScriptStepMessage = WM_APP + 2;
constexpr UINT_PTR kWaitTimer = 1;
constexpr UINT_PTR kReplyTimer = 2;
constexpr UINT kDefaultReplyTimeoutMs = 30000;
constexpr wchar_t kViewClassName[] = L"KESTRO_STANDIN_FLUTTER_VIEW";

LRESULT CALLBACK ViewWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

}  // namespace

struct FlutterDesktopView {
  HWND window = nullptr;
};

struct FlutterDesktopViewController {
  explicit FlutterDesktopViewController(FlutterDesktopEngine* engine);
  ~FlutterDesktopViewController();
  FlutterDesktopViewController(const FlutterDesktopViewController&) = delete;
  FlutterDesktopViewController& operator=(const FlutterDesktopViewController&) = delete;

  LRESULT HandleMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  // The host offers a top-level window message; true when the script claimed it.
  bool OfferTopLevelMessage(UINT message, LRESULT* result);
  void ProduceFrame();
  void PlayNextScriptLine();
  void Execute(const ScriptCommand& command, size_t line_number);
  void SendDpiChanged(const ScriptCommand& command);
  void ScheduleNextScriptLine() { PostMessageW(view.window, kScriptStepMessage, 0, 0); }
  HWND TopLevelWindow() const;
  // Pauses the player until every handle in awaiting is answered or the reply time-out passes;
  // the host's own message loop keeps running meanwhile, so no line ever runs nested in it.
  void AwaitReplies(std::vector<const FlutterDesktopMessageResponseHandle*> handles);
  // Resumes the player when the awaited replies are in, or (timed_out) gives up on the rest.
  void CheckAwaitedReplies(bool timed_out);

  std::unique_ptr<FlutterDesktopEngine> engine;
  // Not the first member: the registry tells handles apart by address.
  FlutterDesktopView view;
  size_t next_script_line = 0;
  bool script_started = false;
  std::set<UINT> watched_messages;
  std::map<UINT, LRESULT> claimed_messages;
  // One per crash-thread or abort-thread line, so a script can crash two threads.
  std::vector<std::thread> crash_threads;
  UINT reply_timeout_ms = kDefaultReplyTimeoutMs;
  // Messages sent with send-async whose replies the script has not awaited yet.
  std::vector<const FlutterDesktopMessageResponseHandle*> owed;
  std::vector<const FlutterDesktopMessageResponseHandle*> awaiting;
};

namespace {

HINSTANCE ThisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(&ViewWindowProc), &module);
  return module;
}

bool RegisterViewClass() {
  static const ATOM atom = [] {
    kestro::WindowClassOptions options;
    options.name = kViewClassName;
    options.procedure = ViewWindowProc;
    options.instance = ThisModule();
    options.cursor = LoadCursorW(nullptr, IDC_ARROW);
    return kestro::RegisterWindowClass(options);
  }();
  return atom != 0;
}

// The window title, then as many of the last transcript lines as fit, channel traffic decoded:
// a screenshot then shows what the host did.
void Paint(HWND window) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  RECT client;
  GetClientRect(window, &client);
  FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
  SetBkMode(dc, TRANSPARENT);
  TEXTMETRICW metrics;
  GetTextMetricsW(dc, &metrics);
  const int line_height = metrics.tmHeight > 0 ? metrics.tmHeight : 16;
  const int margin = 8;

  wchar_t title[256] = L"";
  int title_length = GetWindowTextW(GetAncestor(window, GA_ROOT), title, 256);
  TextOutW(dc, margin, margin, title, title_length);

  int top = margin + 2 * line_height;
  int room = (client.bottom - top) / line_height;
  if (room > 0) {
    for (const std::string& line : kestro_standin::TranscriptTail(static_cast<size_t>(room))) {
      std::wstring wide = kestro::Utf8ToUtf16(kestro_standin::DecodeTranscriptLine(line));
      TextOutW(dc, margin, top, wide.c_str(), static_cast<int>(wide.size()));
      top += line_height;
    }
  }
  EndPaint(window, &paint);
}

LRESULT CALLBACK ViewWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lparam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* controller =
      reinterpret_cast<FlutterDesktopViewController*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (message == WM_PAINT) {
    Paint(window);
    return 0;
  }
  if (controller == nullptr) return DefWindowProcW(window, message, wparam, lparam);
  return controller->HandleMessage(window, message, wparam, lparam);
}

bool ScriptRefusesView(const std::vector<std::string>& lines) {
  for (const std::string& line : lines) {
    if (kestro_standin::ParseScriptLine(line).kind == ScriptCommand::Kind::kRefuseView) return true;
  }
  return false;
}

std::string MessageName(UINT message) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%04x", message);
  return text;
}

// A real write through a null pointer, so the fault is an access violation like a crash in the
// engine would be.
void WriteThroughNull() {
  volatile int* volatile target = nullptr;
  *target = 1;
}

}  // namespace

FlutterDesktopViewController::FlutterDesktopViewController(FlutterDesktopEngine* owned_engine)
    : engine(owned_engine) {
  engine->owned_by_view_controller = true;
  kestro_standin::AddHandle(HandleKind::kViewController, this);
  kestro_standin::AddHandle(HandleKind::kView, &view);
}

FlutterDesktopViewController::~FlutterDesktopViewController() {
  kestro_standin::RemoveHandle(&view);
  kestro_standin::RemoveHandle(this);
  for (std::thread& thread : crash_threads) thread.join();
}

bool FlutterDesktopViewController::OfferTopLevelMessage(UINT message, LRESULT* result) {
  auto claimed = claimed_messages.find(message);
  if (claimed != claimed_messages.end()) {
    WriteTranscriptLine("claimed " + MessageName(message) + " " + std::to_string(claimed->second));
    *result = claimed->second;
    return true;
  }
  if (watched_messages.count(message) != 0) WriteTranscriptLine("offered " + MessageName(message));
  return false;
}

LRESULT FlutterDesktopViewController::HandleMessage(HWND window, UINT message, WPARAM wparam,
                                                    LPARAM lparam) {
  switch (message) {
    case kFrameMessage:
      ProduceFrame();
      return 0;
    case kScriptStepMessage:
      PlayNextScriptLine();
      return 0;
    case kDeliverRepliesMessage:
      engine->messenger->DeliverPendingReplies();
      return 0;
    case kReplyArrivedMessage:
      CheckAwaitedReplies(false);
      return 0;
    case WM_TIMER:
      if (wparam == kReplyTimer) {
        CheckAwaitedReplies(true);
        return 0;
      }
      if (wparam != kWaitTimer) break;
      KillTimer(window, kWaitTimer);
      PlayNextScriptLine();
      return 0;
    case WM_NCDESTROY:
      // The host's window took the view down with it; the controller outlives its window.
      view.window = nullptr;
      engine->messenger->SetReplyWindow(nullptr);
      SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      break;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

void FlutterDesktopViewController::ProduceFrame() {
  WriteTranscriptLine("frame");
  if (engine->RunNextFrameCallback()) WriteTranscriptLine("next-frame");
  if (view.window == nullptr) return;
  InvalidateRect(view.window, nullptr, TRUE);
  if (!script_started) {
    script_started = true;
    ScheduleNextScriptLine();
  }
}

void FlutterDesktopViewController::PlayNextScriptLine() {
  const std::vector<std::string>& lines = engine->script_lines;
  while (next_script_line < lines.size()) {
    const size_t line_number = ++next_script_line;
    ScriptCommand command = kestro_standin::ParseScriptLine(lines[line_number - 1]);
    if (command.kind == ScriptCommand::Kind::kNothing) continue;
    Execute(command, line_number);
    if (view.window) InvalidateRect(view.window, nullptr, TRUE);
    return;
  }
}

void FlutterDesktopViewController::Execute(const ScriptCommand& command, size_t line_number) {
  switch (command.kind) {
    case ScriptCommand::Kind::kSend:
      if (const auto* handle =
              engine->messenger->DeliverFromApplication(command.channel, command.bytes)) {
        return AwaitReplies({handle});
      }
      break;
    case ScriptCommand::Kind::kSendUnreadable:
      // The next line is already on its way, as the engine's next message would be.
      ScheduleNextScriptLine();
      engine->messenger->DeliverFromApplication(command.channel, command.bytes, true);
      return;
    case ScriptCommand::Kind::kSendAsync:
      if (const auto* handle =
              engine->messenger->DeliverFromApplication(command.channel, command.bytes)) {
        owed.push_back(handle);
      }
      break;
    case ScriptCommand::Kind::kAwaitReplies: {
      std::vector<const FlutterDesktopMessageResponseHandle*> all;
      all.swap(owed);
      return AwaitReplies(std::move(all));
    }
    case ScriptCommand::Kind::kReplyTimeout:
      reply_timeout_ms = static_cast<UINT>(command.numbers[0]);
      break;
    case ScriptCommand::Kind::kClose:
      PostMessageW(TopLevelWindow(), WM_CLOSE, 0, 0);
      break;
    case ScriptCommand::Kind::kCrash:
      WriteTranscriptLine("crash");
      WriteThroughNull();
      break;
    case ScriptCommand::Kind::kCrashThread:
      WriteTranscriptLine("crash-thread");
      crash_threads.emplace_back(WriteThroughNull);
      break;
    case ScriptCommand::Kind::kAbortThread:
      WriteTranscriptLine("abort-thread");
      crash_threads.emplace_back([] { std::abort(); });
      break;
    case ScriptCommand::Kind::kWatch: {
      const UINT message = static_cast<UINT>(command.numbers[0]);
      WriteTranscriptLine("watch " + MessageName(message));
      watched_messages.insert(message);
      break;
    }
    case ScriptCommand::Kind::kClaim: {
      const UINT message = static_cast<UINT>(command.numbers[0]);
      const LRESULT result = static_cast<LRESULT>(command.numbers[1]);
      WriteTranscriptLine("claim " + MessageName(message) + " " + std::to_string(result));
      claimed_messages[message] = result;
      break;
    }
    case ScriptCommand::Kind::kDpiChanged:
      SendDpiChanged(command);
      break;
    case ScriptCommand::Kind::kWait:
      SetTimer(view.window, kWaitTimer, static_cast<UINT>(command.numbers[0]), nullptr);
      return;
    case ScriptCommand::Kind::kPost:
      PostMessageW(TopLevelWindow(), static_cast<UINT>(command.numbers[0]),
                   static_cast<WPARAM>(command.numbers[1]),
                   static_cast<LPARAM>(command.numbers[2]));
      break;
    case ScriptCommand::Kind::kRefuseView:
    case ScriptCommand::Kind::kNothing:
      break;
    case ScriptCommand::Kind::kInvalid:
      WriteTranscriptLine("script-error " + std::to_string(line_number) + " # " +
                          engine->script_lines[line_number - 1]);
      break;
  }
  if (view.window) ScheduleNextScriptLine();
}

void FlutterDesktopViewController::SendDpiChanged(const ScriptCommand& command) {
  const WORD dpi = static_cast<WORD>(command.numbers[0]);
  // Ours until SendMessageW returns, as the system's suggestion is.
  RECT suggested{static_cast<LONG>(command.numbers[1]), static_cast<LONG>(command.numbers[2]),
                 static_cast<LONG>(command.numbers[3]), static_cast<LONG>(command.numbers[4])};
  SendMessageW(TopLevelWindow(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
               reinterpret_cast<LPARAM>(&suggested));
  // Written once the host has handled it, so a test reading the line sees the result.
  WriteTranscriptLine("dpi-changed " + std::to_string(dpi) + " " + std::to_string(suggested.left) +
                      " " + std::to_string(suggested.top) + " " + std::to_string(suggested.right) +
                      " " + std::to_string(suggested.bottom));
}

void FlutterDesktopViewController::AwaitReplies(
    std::vector<const FlutterDesktopMessageResponseHandle*> handles) {
  if (view.window == nullptr) return;  // the window is gone: the script stops here
  if (handles.empty()) return ScheduleNextScriptLine();
  awaiting = std::move(handles);
  SetTimer(view.window, kReplyTimer, reply_timeout_ms, nullptr);
  CheckAwaitedReplies(false);
}

void FlutterDesktopViewController::CheckAwaitedReplies(bool timed_out) {
  if (awaiting.empty()) return;  // a reply nobody waits for (any more)
  FlutterDesktopMessenger* messenger = engine->messenger;
  std::vector<const FlutterDesktopMessageResponseHandle*> missing;
  for (const auto* handle : awaiting) {
    if (!messenger->IsAnswered(handle)) missing.push_back(handle);
  }
  if (!missing.empty() && !timed_out) return;
  for (const auto* handle : missing) messenger->GiveUpOn(handle);
  awaiting.clear();
  if (view.window == nullptr) return;
  KillTimer(view.window, kReplyTimer);
  ScheduleNextScriptLine();
}

HWND FlutterDesktopViewController::TopLevelWindow() const {
  HWND root = GetAncestor(view.window, GA_ROOT);
  return root ? root : view.window;
}

extern "C" {

FlutterDesktopViewControllerRef FlutterDesktopViewControllerCreate(int width, int height,
                                                                   FlutterDesktopEngineRef engine) {
  if (!IsLiveHandle(HandleKind::kEngine, engine, __func__)) return nullptr;
  if (engine->owned_by_view_controller) {
    WriteTranscriptLine(std::string("fault ") + __func__ + " # engine owned by a view controller");
    return nullptr;
  }
  // The controller takes the engine even when it fails: the engine then ends with it, and the
  // engine handle is spent either way.
  auto controller = std::make_unique<FlutterDesktopViewController>(engine);
  if (ScriptRefusesView(engine->script_lines)) {
    WriteTranscriptLine("view-refused " + std::to_string(width) + " " + std::to_string(height));
    return nullptr;
  }
  // A child of the message-only parent until the host makes it its content with SetParent.
  HWND window =
      RegisterViewClass()
          ? CreateWindowExW(0, kViewClassName, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 0, 0,
                            width, height, HWND_MESSAGE, nullptr, ThisModule(), controller.get())
          : nullptr;
  if (window == nullptr) return nullptr;
  controller->view.window = window;
  engine->messenger->SetReplyWindow(window);
  WriteTranscriptLine("view " + std::to_string(width) + " " + std::to_string(height));
  PostMessageW(window, kFrameMessage, 0, 0);
  return controller.release();
}

void FlutterDesktopViewControllerDestroy(FlutterDesktopViewControllerRef controller) {
  if (!IsLiveHandle(HandleKind::kViewController, controller, __func__)) return;
  std::unique_ptr<FlutterDesktopViewController> ended(controller);
  if (ended->view.window != nullptr) {
    SetWindowLongPtrW(ended->view.window, GWLP_USERDATA, 0);
    DestroyWindow(ended->view.window);
  }
  ended.reset();
  WriteTranscriptLine("destroyed");
}

FlutterDesktopViewRef FlutterDesktopViewControllerGetView(
    FlutterDesktopViewControllerRef controller) {
  if (!IsLiveHandle(HandleKind::kViewController, controller, __func__)) return nullptr;
  return &controller->view;
}

void FlutterDesktopViewControllerForceRedraw(FlutterDesktopViewControllerRef controller) {
  if (!IsLiveHandle(HandleKind::kViewController, controller, __func__)) return;
  WriteTranscriptLine("redraw");
  if (controller->view.window) PostMessageW(controller->view.window, kFrameMessage, 0, 0);
}

// Claims only what the script told it to; everything else is the host's to handle.
bool FlutterDesktopViewControllerHandleTopLevelWindowProc(
    FlutterDesktopViewControllerRef controller, HWND, UINT message, WPARAM, LPARAM,
    LRESULT* result) {
  if (!IsLiveHandle(HandleKind::kViewController, controller, __func__)) return false;
  return controller->OfferTopLevelMessage(message, result);
}

HWND FlutterDesktopViewGetHWND(FlutterDesktopViewRef view) {
  if (!IsLiveHandle(HandleKind::kView, view, __func__)) return nullptr;
  return view->window;
}

UINT FlutterDesktopGetDpiForMonitor(HMONITOR monitor) {
  UINT dpi_x = 0;
  UINT dpi_y = 0;
  if (monitor != nullptr &&
      SUCCEEDED(GetDpiForMonitor(monitor, MDT_EFFECTIVE_DPI, &dpi_x, &dpi_y)) && dpi_x != 0) {
    return dpi_x;
  }
  return 96;
}

// Transcript lines look up the standard error handle on every write, so they already follow
// a console the host opens.
void FlutterDesktopResyncOutputStreams(void) {}

}  // extern "C"
