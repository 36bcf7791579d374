// Sends method calls to the application on one channel and turns replies into outcomes.
#ifndef KESTRO_ENGINE_CLIENT_MESSAGING_METHOD_CHANNEL_H_
#define KESTRO_ENGINE_CLIENT_MESSAGING_METHOD_CHANNEL_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "engine_client/codec/encodable_value.h"
#include "engine_client/codec/method_codec.h"
#include "engine_client/codec/method_result.h"
#include "engine_client/messaging/binary_messenger.h"

namespace flutter {

// The reply function of a call with a result receiver. Copies share the receiver, which is
// destroyed with the last copy (without any outcome when the engine never replies).
class ChannelReply {
 public:
  ChannelReply(std::shared_ptr<MethodResult<EncodableValue>> result,
               const MethodCodec<EncodableValue>* codec, std::string channel);

  // No bytes: NotImplemented. A reply envelope: Success or Error. Anything else: a line on
  // standard error naming the channel, then NotImplemented.
  void operator()(const uint8_t* reply, size_t reply_size) const;

 private:
  std::shared_ptr<MethodResult<EncodableValue>> result_;
  const MethodCodec<EncodableValue>* codec_;
  std::string channel_;
};

// Immutable after construction; usable from any thread that may use its messenger. Messenger
// and codec are not owned and must outlive the channel and its pending replies.
class MethodChannel {
 public:
  MethodChannel(BinaryMessenger* messenger, const std::string& name,
                const MethodCodec<EncodableValue>* codec);

  // Without a result receiver the call is sent with no reply wanted and gives no feedback.
  void InvokeMethod(const std::string& method, std::unique_ptr<EncodableValue> arguments,
                    std::unique_ptr<MethodResult<EncodableValue>> result = nullptr) const;

 private:
  BinaryMessenger* messenger_;
  std::string name_;
  const MethodCodec<EncodableValue>* codec_;
};

}  // namespace flutter

#endif  // KESTRO_ENGINE_CLIENT_MESSAGING_METHOD_CHANNEL_H_
