// Sending, handler bookkeeping and the two engine callbacks.
#include "engine_client/messaging/binary_messenger_impl.h"

#include <memory>
#include <utility>

#include "engine_client/messaging/one_shot_reply.h"

namespace flutter {

BinaryMessengerImpl::BinaryMessengerImpl(FlutterDesktopMessengerRef messenger)
    : messenger_(messenger) {}

BinaryMessengerImpl::~BinaryMessengerImpl() = default;

void BinaryMessengerImpl::Send(const std::string& channel, const uint8_t* message,
                               size_t message_size, BinaryReply reply) const {
  if (!reply) {
    FlutterDesktopMessengerSend(messenger_, channel.c_str(), message, message_size);
    return;
  }
  auto holder = std::make_unique<BinaryReply>(std::move(reply));
  if (FlutterDesktopMessengerSendWithReply(messenger_, channel.c_str(), message, message_size,
                                           &BinaryMessengerImpl::DeliverReply, holder.get())) {
    // The engine now owns the holder until it calls DeliverReply.
    holder.release();
  }
}

void BinaryMessengerImpl::SetMessageHandler(const std::string& channel,
                                            BinaryMessageHandler handler) {
  if (!handler) {
    handlers_.erase(channel);
    FlutterDesktopMessengerSetCallback(messenger_, channel.c_str(), nullptr, nullptr);
    return;
  }
  BinaryMessageHandler& stored = handlers_[channel];
  stored = std::move(handler);
  FlutterDesktopMessengerSetCallback(messenger_, channel.c_str(),
                                     &BinaryMessengerImpl::ForwardMessage, &stored);
}

void BinaryMessengerImpl::ForwardMessage(FlutterDesktopMessengerRef messenger,
                                         const FlutterDesktopMessage* message, void* user_data) {
  const auto& handler = *static_cast<const BinaryMessageHandler*>(user_data);
  handler(message->message, message->message_size,
          OneShotReply(messenger, message->response_handle));
}

void BinaryMessengerImpl::DeliverReply(const uint8_t* reply, size_t reply_size, void* user_data) {
  std::unique_ptr<BinaryReply> holder(static_cast<BinaryReply*>(user_data));
  (*holder)(reply, reply_size);
}

}  // namespace flutter
