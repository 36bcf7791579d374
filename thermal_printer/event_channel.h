// The channel the Bluetooth manager's events travel on, made safe to use after the engine is
// gone: the manager outlives the engine (it is destroyed at process exit and logs as it goes).
#ifndef KESTRO_THERMAL_PRINTER_EVENT_CHANNEL_H_
#define KESTRO_THERMAL_PRINTER_EVENT_CHANNEL_H_

#include <memory>
#include <string>

#include "engine_client/engine_library/flutter_desktop_api.h"
#include "engine_client/messaging/binary_messenger.h"
#include "engine_client/messaging/binary_messenger_impl.h"
#include "engine_client/messaging/method_channel.h"
#include "thermal_printer/ui_thread_handoff.h"

namespace kestro {

// A binary messenger that forwards to flutter::BinaryMessengerImpl only while the engine is
// available, holding the engine's messenger lock across the test and the send. It keeps its own
// messenger reference (AddRef at construction, Release at destruction), so the handle stays
// valid after the engine ends and later sends are dropped silently.
class EngineEventMessenger : public flutter::BinaryMessenger {
 public:
  explicit EngineEventMessenger(FlutterDesktopMessengerRef messenger);
  ~EngineEventMessenger() override;

  EngineEventMessenger(const EngineEventMessenger&) = delete;
  EngineEventMessenger& operator=(const EngineEventMessenger&) = delete;

  void Send(const std::string& channel, const uint8_t* message, size_t message_size,
            flutter::BinaryReply reply = nullptr) const override;
  // Forwarded under the same guard; dropped once the engine is gone.
  void SetMessageHandler(const std::string& channel,
                         flutter::BinaryMessageHandler handler) override;

 private:
  // Runs action with the messenger lock held, only while the engine is available.
  template <typename Action>
  void WhileAvailable(Action action) const;

  FlutterDesktopMessengerRef messenger_;
  flutter::BinaryMessengerImpl impl_;
};

// Sends from any thread, forwarded to target on the UI thread through handoff in the order of
// the sends. The handoff must outlive this messenger; the target is kept alive by every send
// still in flight.
class HandedOffMessenger : public flutter::BinaryMessenger {
 public:
  HandedOffMessenger(std::shared_ptr<flutter::BinaryMessenger> target, UiThreadHandoff* handoff);

  void Send(const std::string& channel, const uint8_t* message, size_t message_size,
            flutter::BinaryReply reply = nullptr) const override;
  void SetMessageHandler(const std::string& channel,
                         flutter::BinaryMessageHandler handler) override;

 private:
  std::shared_ptr<flutter::BinaryMessenger> target_;
  UiThreadHandoff* handoff_;
};

// A method channel on name with the standard method codec over an EngineEventMessenger on
// messenger, reached through handoff when one is given (the manager then may send from any
// thread) and directly otherwise. The channel shares ownership of its messengers: whoever holds
// it keeps them alive.
std::shared_ptr<flutter::MethodChannel> MakeEventChannel(FlutterDesktopMessengerRef messenger,
                                                         const std::string& name,
                                                         UiThreadHandoff* handoff = nullptr);

}  // namespace kestro

#endif  // KESTRO_THERMAL_PRINTER_EVENT_CHANNEL_H_
