// Once-only answers to incoming messages.
#include "engine_client/messaging/one_shot_reply.h"

#include <atomic>

#include "engine_client/codec/stderr_line.h"

namespace flutter {

struct OneShotReply::Response {
  Response(FlutterDesktopMessengerRef counted_messenger,
           const FlutterDesktopMessageResponseHandle* response_handle)
      : messenger(counted_messenger), handle(response_handle) {}
  ~Response() { FlutterDesktopMessengerRelease(messenger); }
  Response(const Response&) = delete;
  Response& operator=(const Response&) = delete;

  const FlutterDesktopMessengerRef messenger;
  // Taken by exchange, so even without the engine's lock two callers cannot both get it.
  std::atomic<const FlutterDesktopMessageResponseHandle*> handle;
};

OneShotReply::OneShotReply(FlutterDesktopMessengerRef messenger,
                           const FlutterDesktopMessageResponseHandle* response_handle)
    : response_(
          std::make_shared<Response>(FlutterDesktopMessengerAddRef(messenger), response_handle)) {}

void OneShotReply::operator()(const uint8_t* reply, size_t reply_size) const {
  FlutterDesktopMessengerRef messenger = response_->messenger;
  // Held across the availability test and the response, so shutdown cannot come in between.
  FlutterDesktopMessengerRef locked = FlutterDesktopMessengerLock(messenger);
  if (FlutterDesktopMessengerIsAvailable(messenger)) {
    const FlutterDesktopMessageResponseHandle* handle = response_->handle.exchange(nullptr);
    if (handle == nullptr) {
      kestro::WriteStderrLine("Error: Response can be set only once. Ignoring duplicate response.");
    } else {
      FlutterDesktopMessengerSendResponse(messenger, handle, reply, reply_size);
    }
  }
  if (locked != nullptr) FlutterDesktopMessengerUnlock(locked);
}

}  // namespace flutter
