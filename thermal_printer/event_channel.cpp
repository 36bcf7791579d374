#include "thermal_printer/event_channel.h"

#include <utility>
#include <vector>

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

HandedOffMessenger::HandedOffMessenger(std::shared_ptr<flutter::BinaryMessenger> target,
                                       UiThreadHandoff* handoff)
    : target_(std::move(target)), handoff_(handoff) {}

void HandedOffMessenger::Send(const std::string& channel, const uint8_t* message,
                              size_t message_size, flutter::BinaryReply reply) const {
  std::vector<uint8_t> bytes(message, message + message_size);
  handoff_->Post([target = target_, channel, bytes = std::move(bytes), reply = std::move(reply)] {
    target->Send(channel, bytes.data(), bytes.size(), reply);
  });
}

void HandedOffMessenger::SetMessageHandler(const std::string& channel,
                                           flutter::BinaryMessageHandler handler) {
  handoff_->Post([target = target_, channel, handler = std::move(handler)] {
    target->SetMessageHandler(channel, handler);
  });
}

namespace {

// Messengers and channel in one allocation, so the channel can never outlive its messengers.
struct EventPath {
  EventPath(FlutterDesktopMessengerRef engine_messenger, const std::string& name,
            UiThreadHandoff* handoff)
      : engine(std::make_shared<EngineEventMessenger>(engine_messenger)),
        handed_off(engine, handoff),
        channel(
            handoff != nullptr ? static_cast<flutter::BinaryMessenger*>(&handed_off) : engine.get(),
            name, &flutter::StandardMethodCodec::ForSerializer()) {}
  std::shared_ptr<EngineEventMessenger> engine;
  HandedOffMessenger handed_off;
  flutter::MethodChannel channel;
};

}  // namespace

std::shared_ptr<flutter::MethodChannel> MakeEventChannel(FlutterDesktopMessengerRef messenger,
                                                         const std::string& name,
                                                         UiThreadHandoff* handoff) {
  auto path = std::make_shared<EventPath>(messenger, name, handoff);
  flutter::MethodChannel* channel = &path->channel;
  return std::shared_ptr<flutter::MethodChannel>(std::move(path), channel);
}

}  // namespace kestro
