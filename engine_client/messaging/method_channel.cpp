// Method calls out, outcomes back.
#include "engine_client/messaging/method_channel.h"

#include <utility>

#include "engine_client/codec/method_call.h"
#include "engine_client/codec/stderr_line.h"

namespace flutter {

ChannelReply::ChannelReply(std::shared_ptr<MethodResult<EncodableValue>> result,
                           const MethodCodec<EncodableValue>* codec, std::string channel)
    : result_(std::move(result)), codec_(codec), channel_(std::move(channel)) {}

void ChannelReply::operator()(const uint8_t* reply, size_t reply_size) const {
  if (reply_size == 0) {
    result_->NotImplemented();
    return;
  }
  if (!codec_->DecodeReplyInto(reply, reply_size, result_.get())) {
    kestro::WriteStderrLine("Unable to decode reply to method invocation on channel " + channel_);
    result_->NotImplemented();
  }
}

MethodChannel::MethodChannel(BinaryMessenger* messenger, const std::string& name,
                             const MethodCodec<EncodableValue>* codec)
    : messenger_(messenger), name_(name), codec_(codec) {}

void MethodChannel::InvokeMethod(const std::string& method,
                                 std::unique_ptr<EncodableValue> arguments,
                                 std::unique_ptr<MethodResult<EncodableValue>> result) const {
  MethodCall<EncodableValue> call(method, std::move(arguments));
  std::unique_ptr<std::vector<uint8_t>> message = codec_->EncodeCall(call);
  if (!result) {
    messenger_->Send(name_, message->data(), message->size());
    return;
  }
  messenger_->Send(name_, message->data(), message->size(),
                   ChannelReply(std::shared_ptr<MethodResult<EncodableValue>>(std::move(result)),
                                codec_, name_));
}

}  // namespace flutter
