// The printer bridge's one way to the engine: its channel callback, replies and events all pass
// one guard, so nothing reaches an engine that is gone or that the host has stopped calling.
#ifndef KESTRO_THERMAL_PRINTER_ENGINE_LINK_H_
#define KESTRO_THERMAL_PRINTER_ENGINE_LINK_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "engine_client/engine_library/flutter_desktop_api.h"
#include "engine_client/messaging/binary_messenger.h"
#include "engine_client/messaging/binary_messenger_impl.h"
#include "thermal_printer/ui_thread_handoff.h"

namespace kestro {

// Every engine call is made holding the engine's messenger lock (so the engine cannot end
// between the check and the call), only while the engine is available and engine calls have not
// been stopped; otherwise it is dropped silently. Keeps its own messenger reference (AddRef at
// construction, Release at destruction), so the handle stays valid after the engine ends.
// StopEngineCalls may be called from any thread; everything else on the UI thread.
class EngineLink : public flutter::BinaryMessenger {
 public:
  explicit EngineLink(FlutterDesktopMessengerRef messenger);
  ~EngineLink() override;

  EngineLink(const EngineLink&) = delete;
  EngineLink& operator=(const EngineLink&) = delete;

  // From now on nothing reaches the engine. Set before the view controller is released.
  void StopEngineCalls() { stopped_ = true; }

  // Installs (or, with a null callback, removes) the raw callback of channel.
  void SetChannelCallback(const char* channel, FlutterDesktopMessageCallback callback,
                          void* user_data) const;
  // Answers a message; dropped too when handle is null.
  void SendResponse(const FlutterDesktopMessageResponseHandle* handle, const uint8_t* bytes,
                    size_t size) const;

  // flutter::BinaryMessenger, for the events' method channel; forwarded to the engine's
  // messenger object layer.
  void Send(const std::string& channel, const uint8_t* message, size_t message_size,
            flutter::BinaryReply reply = nullptr) const override;
  void SetMessageHandler(const std::string& channel,
                         flutter::BinaryMessageHandler handler) override;

 private:
  // Runs call with the messenger lock held, only while calls may reach the engine.
  template <typename Call>
  void WhileAvailable(Call call) const;

  FlutterDesktopMessengerRef messenger_;
  flutter::BinaryMessengerImpl impl_;
  std::atomic<bool> stopped_{false};
};

// Sends from any thread, forwarded to target on the UI thread through handoff in the order of
// the sends. Both must outlive this messenger and every task it posted.
class HandedOffMessenger : public flutter::BinaryMessenger {
 public:
  HandedOffMessenger(flutter::BinaryMessenger* target, UiThreadHandoff* handoff)
      : target_(target), handoff_(handoff) {}

  void Send(const std::string& channel, const uint8_t* message, size_t message_size,
            flutter::BinaryReply reply = nullptr) const override;
  void SetMessageHandler(const std::string& channel,
                         flutter::BinaryMessageHandler handler) override;

 private:
  flutter::BinaryMessenger* target_;
  UiThreadHandoff* handoff_;
};

}  // namespace kestro

#endif  // KESTRO_THERMAL_PRINTER_ENGINE_LINK_H_
