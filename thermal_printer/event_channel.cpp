#include "thermal_printer/event_channel.h"

#include <utility>

#include "engine_client/codec/standard_method_codec.h"

namespace kestro {

EngineEventMessenger::EngineEventMessenger(FlutterDesktopMessengerRef messenger)
    : messenger_(FlutterDesktopMessengerAddRef(messenger)), impl_(messenger_) {}

EngineEventMessenger::~EngineEventMessenger() { FlutterDesktopMessengerRelease(messenger_); }

template <typename Action>
void EngineEventMessenger::WhileAvailable(Action action) const {
  // The lock keeps the engine from shutting down between the test and the send.
  FlutterDesktopMessengerRef locked = FlutterDesktopMessengerLock(messenger_);
  if (FlutterDesktopMessengerIsAvailable(messenger_)) action();
  if (locked != nullptr) FlutterDesktopMessengerUnlock(locked);
}

void EngineEventMessenger::Send(const std::string& channel, const uint8_t* message,
                                size_t message_size, flutter::BinaryReply reply) const {
  WhileAvailable([&] { impl_.Send(channel, message, message_size, std::move(reply)); });
}

void EngineEventMessenger::SetMessageHandler(const std::string& channel,
                                             flutter::BinaryMessageHandler handler) {
  WhileAvailable([&] { impl_.SetMessageHandler(channel, std::move(handler)); });
}

namespace {

// Messenger and channel in one allocation, so the channel can never outlive its messenger.
struct EventPath {
  EventPath(FlutterDesktopMessengerRef engine_messenger, const std::string& name)
      : messenger(engine_messenger),
        channel(&messenger, name, &flutter::StandardMethodCodec::ForSerializer()) {}
  EngineEventMessenger messenger;
  flutter::MethodChannel channel;
};

}  // namespace

std::shared_ptr<flutter::MethodChannel> MakeEventChannel(FlutterDesktopMessengerRef messenger,
                                                         const std::string& name) {
  auto path = std::make_shared<EventPath>(messenger, name);
  flutter::MethodChannel* channel = &path->channel;
  return std::shared_ptr<flutter::MethodChannel>(std::move(path), channel);
}

}  // namespace kestro
