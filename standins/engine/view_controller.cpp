// The view controller and its child view window: frames and the next-frame callback on the UI
// thread, the application script player, painting, and the window-related exports.
#include <shellscalingapi.h>

#include <string>
#include <vector>

#include "standins/engine/engine_state.h"
#include "standins/engine/script.h"
#include "standins/transcript.h"

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
  LRESULT HandleMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  void ProduceFrame();
  void PlayNextScriptLine();
  void Execute(const ScriptCommand& command, size_t line_number);
  void ScheduleNextScriptLine() { PostMessageW(view.window, kScriptStepMessage, 0, 0); }
  HWND TopLevelWindow() const;
  // Pauses the player until every handle in awaiting is answered or the reply time-out passes;
  // the host's own message loop keeps running meanwhile, so no line ever runs nested in it.
  void AwaitReplies(std::vector<const FlutterDesktopMessageResponseHandle*> handles);
  // Resumes the player when the awaited replies are in, or (timed_out) gives up on the rest.
  void CheckAwaitedReplies(bool timed_out);

  std::unique_ptr<FlutterDesktopEngine> engine;
  FlutterDesktopView view;
  size_t next_script_line = 0;
  bool script_started = false;
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
    WNDCLASSEXW window_class = {};
    window_class.cbSize = sizeof window_class;
    window_class.lpfnWndProc = ViewWindowProc;
    window_class.hInstance = ThisModule();
    window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    window_class.lpszClassName = kViewClassName;
    return RegisterClassExW(&window_class);
  }();
  return atom != 0;
}

std::wstring Widen(const std::string& text) {
  if (text.empty()) return std::wstring();
  int length =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
  return wide;
}

// The window title, then as many of the last transcript lines as fit: a screenshot then shows
// what the host did.
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
      std::wstring wide = Widen(line);
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

}  // namespace

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
    case ScriptCommand::Kind::kCrash: {
      // A real write through a null pointer, so the fault is an access violation that unwinds
      // through the host's message loop like a crash in the engine would.
      volatile int* volatile target = nullptr;
      *target = 1;
      break;
    }
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
  // On failure the engine is left alive: the caller's wrapper still holds its handle.
  if (engine == nullptr || !RegisterViewClass()) return nullptr;
  if (ScriptRefusesView(engine->script_lines)) {
    WriteTranscriptLine("view-refused " + std::to_string(width) + " " + std::to_string(height));
    return nullptr;
  }
  auto controller = std::make_unique<FlutterDesktopViewController>();
  controller->engine.reset(engine);
  // A child of the message-only parent until the host makes it its content with SetParent.
  HWND window =
      CreateWindowExW(0, kViewClassName, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 0, 0, width,
                      height, HWND_MESSAGE, nullptr, ThisModule(), controller.get());
  if (window == nullptr) {
    controller->engine.release();
    return nullptr;
  }
  controller->view.window = window;
  engine->messenger->SetReplyWindow(window);
  WriteTranscriptLine("view " + std::to_string(width) + " " + std::to_string(height));
  PostMessageW(window, kFrameMessage, 0, 0);
  return controller.release();
}

void FlutterDesktopViewControllerDestroy(FlutterDesktopViewControllerRef controller) {
  if (controller == nullptr) return;
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
  return controller ? &controller->view : nullptr;
}

void FlutterDesktopViewControllerForceRedraw(FlutterDesktopViewControllerRef controller) {
  if (controller == nullptr) return;
  WriteTranscriptLine("redraw");
  if (controller->view.window) PostMessageW(controller->view.window, kFrameMessage, 0, 0);
}

// The stand-in handles no top-level message itself; the host's own handling always applies.
bool FlutterDesktopViewControllerHandleTopLevelWindowProc(FlutterDesktopViewControllerRef, HWND,
                                                          UINT, WPARAM, LPARAM, LRESULT*) {
  return false;
}

HWND FlutterDesktopViewGetHWND(FlutterDesktopViewRef view) { return view ? view->window : nullptr; }

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
