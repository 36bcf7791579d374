// The stand-in engine's objects behind the opaque handles of the engine library interface.
// Everything runs on the UI thread except the messenger's Send, SendResponse, Lock, Unlock and
// reference counting, which may be called from any thread.
#ifndef KESTRO_STANDINS_ENGINE_ENGINE_STATE_H_
#define KESTRO_STANDINS_ENGINE_ENGINE_STATE_H_

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine_client/engine_library/flutter_desktop_api.h"

// Posted to the view window to deliver queued replies to the host's sends on the UI thread.
constexpr UINT kDeliverRepliesMessage = WM_APP + 3;
// Posted to the view window when the host answers a message of the application's.
constexpr UINT kReplyArrivedMessage = WM_APP + 4;

// One message the application sent. Kept until the messenger goes, so a second answer through
// a spent handle is recognised instead of touching freed memory.
struct FlutterDesktopMessageResponseHandle {
  FlutterDesktopMessageResponseHandle(const FlutterDesktopMessenger* owner, std::string channel);
  ~FlutterDesktopMessageResponseHandle();
  FlutterDesktopMessageResponseHandle(const FlutterDesktopMessageResponseHandle&) = delete;
  FlutterDesktopMessageResponseHandle& operator=(const FlutterDesktopMessageResponseHandle&) =
      delete;

  const FlutterDesktopMessenger* const owner;
  const std::string channel;
  bool answered = false;  // guarded by the messenger's table lock
  bool overdue = false;   // the application stopped waiting; guarded likewise
};

// Reference counted: the engine holds one reference; host reply functions hold more and may
// outlive the engine, after which the messenger reports itself unavailable.
struct FlutterDesktopMessenger {
  FlutterDesktopMessenger();
  ~FlutterDesktopMessenger();
  FlutterDesktopMessenger(const FlutterDesktopMessenger&) = delete;
  FlutterDesktopMessenger& operator=(const FlutterDesktopMessenger&) = delete;

  FlutterDesktopMessenger* AddRef();
  void Release();

  bool IsAvailable() const { return available_; }
  FlutterDesktopMessenger* Lock();
  void Unlock();

  // True when `handle` is one this messenger gave out; a spent one still is.
  bool Owns(const FlutterDesktopMessageResponseHandle* handle) const {
    return handle->owner == this;
  }

  void SetCallback(const char* channel, FlutterDesktopMessageCallback callback, void* user_data);
  // The application sends: calls the host's callback with a fresh response handle and returns
  // it; the reply may come later. Null when no callback took the message ("reply <channel> none
  // # no callback" is written then). An unreadable message points the callback at memory that
  // faults when read.
  const FlutterDesktopMessageResponseHandle* DeliverFromApplication(
      const std::string& channel, const std::vector<uint8_t>& bytes, bool unreadable = false);
  bool IsAnswered(const FlutterDesktopMessageResponseHandle* handle);
  // The application stops waiting: "reply <channel> none" unless answered; an answer after this
  // is written "reply-late <channel> <hex>".
  void GiveUpOn(const FlutterDesktopMessageResponseHandle* handle);
  // Writes the reply line and tells the reply window that an answer came.
  void Respond(const FlutterDesktopMessageResponseHandle* handle, const uint8_t* data, size_t size);
  // The host sends. The application has no handlers, so each reply is empty; it arrives through
  // the reply window's message loop, or at once while no view exists.
  bool Send(const char* channel, const uint8_t* data, size_t size, FlutterDesktopBinaryReply reply,
            void* user_data);
  void DeliverPendingReplies();
  void SetReplyWindow(HWND window);
  // Engine shutdown: answers what is still pending, then waits for Lock holders and marks the
  // messenger unavailable.
  void Shutdown();

 private:
  struct Callback {
    FlutterDesktopMessageCallback function = nullptr;
    void* user_data = nullptr;
  };
  struct PendingReply {
    FlutterDesktopBinaryReply function;
    void* user_data;
  };

  std::atomic<int> references_{1};
  std::atomic<bool> available_{true};
  std::mutex engine_lock_;
  std::mutex table_lock_;  // guards everything below
  std::map<std::string, Callback> callbacks_;
  std::vector<std::unique_ptr<FlutterDesktopMessageResponseHandle>> handles_;
  std::vector<PendingReply> pending_replies_;
  HWND reply_window_ = nullptr;
};

// One per plug-in name and engine; lives as long as its engine.
struct FlutterDesktopPluginRegistrar {
  FlutterDesktopPluginRegistrar(FlutterDesktopMessenger* messenger, std::string plugin_name);
  ~FlutterDesktopPluginRegistrar();
  FlutterDesktopPluginRegistrar(const FlutterDesktopPluginRegistrar&) = delete;
  FlutterDesktopPluginRegistrar& operator=(const FlutterDesktopPluginRegistrar&) = delete;

  FlutterDesktopMessenger* const messenger;
  const std::string plugin_name;
};

struct FlutterDesktopEngine {
  explicit FlutterDesktopEngine(std::vector<std::string> script_lines);
  ~FlutterDesktopEngine();
  FlutterDesktopEngine(const FlutterDesktopEngine&) = delete;
  FlutterDesktopEngine& operator=(const FlutterDesktopEngine&) = delete;

  // Runs and clears the pending next-frame callback; false when none was set.
  bool RunNextFrameCallback();

  FlutterDesktopMessenger* messenger;  // holds one reference
  std::vector<std::string> script_lines;
  std::vector<std::string> arguments;
  std::string entrypoint;
  int32_t option_values[4] = {0, 0, 0, 0};
  std::map<std::string, std::unique_ptr<FlutterDesktopPluginRegistrar>> registrars;
  FlutterDesktopOnNextFrameCallback next_frame_callback = nullptr;
  void* next_frame_user_data = nullptr;
  bool owned_by_view_controller = false;
};

#endif  // KESTRO_STANDINS_ENGINE_ENGINE_STATE_H_
