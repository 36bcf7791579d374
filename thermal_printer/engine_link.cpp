#include "thermal_printer/engine_link.h"

#include <utility>
#include <vector>

namespace kestro {
namespace {

// The engine's messenger lock for one scope: the engine cannot shut down while it is held.
class MessengerLock {
 public:
  explicit MessengerLock(FlutterDesktopMessengerRef messenger)
      : locked_(FlutterDesktopMessengerLock(messenger)) {}
  ~MessengerLock() {
    if (locked_ != nullptr) FlutterDesktopMessengerUnlock(locked_);
  }
  MessengerLock(const MessengerLock&) = delete;
  MessengerLock& operator=(const MessengerLock&) = delete;

 private:
  FlutterDesktopMessengerRef locked_;
};

}  // namespace

EngineLink::EngineLink(FlutterDesktopMessengerRef messenger)
    : messenger_(FlutterDesktopMessengerAddRef(messenger)), impl_(messenger_) {}

EngineLink::~EngineLink() { FlutterDesktopMessengerRelease(messenger_); }

template <typename Call>
void EngineLink::WhileAvailable(Call call) const {
  if (stopped_) return;
  MessengerLock lock(messenger_);
  if (FlutterDesktopMessengerIsAvailable(messenger_)) call();
}

void EngineLink::SetChannelCallback(const char* channel, FlutterDesktopMessageCallback callback,
                                    void* user_data) const {
  WhileAvailable(
      [&] { FlutterDesktopMessengerSetCallback(messenger_, channel, callback, user_data); });
}

void EngineLink::SendResponse(const FlutterDesktopMessageResponseHandle* handle,
                              const uint8_t* bytes, size_t size) const {
  if (handle == nullptr) return;
  WhileAvailable([&] { FlutterDesktopMessengerSendResponse(messenger_, handle, bytes, size); });
}

void EngineLink::Send(const std::string& channel, const uint8_t* message, size_t message_size,
                      flutter::BinaryReply reply) const {
  WhileAvailable([&] { impl_.Send(channel, message, message_size, std::move(reply)); });
}

void EngineLink::SetMessageHandler(const std::string& channel,
                                   flutter::BinaryMessageHandler handler) {
  WhileAvailable([&] { impl_.SetMessageHandler(channel, std::move(handler)); });
}

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

}  // namespace kestro
