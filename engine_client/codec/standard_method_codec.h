// The method codec over the standard codec. A call is the method name (a string value) then the
// arguments (null when absent); a reply is the byte 0 then the result, or the byte 1 then code,
// message (null when empty) and details. One codec per serializer, living until process exit.
#ifndef KESTRO_ENGINE_CLIENT_CODEC_STANDARD_METHOD_CODEC_H_
#define KESTRO_ENGINE_CLIENT_CODEC_STANDARD_METHOD_CODEC_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine_client/codec/encodable_value.h"
#include "engine_client/codec/method_codec.h"
#include "engine_client/codec/standard_codec_serializer.h"

namespace flutter {

class StandardMethodCodec : public MethodCodec<EncodableValue> {
 private:
  struct Key {};  // Restricts construction to ForSerializer.

 public:
  // The codec bound to serializer (the shared one when null); always the same object for the
  // same serializer, valid until process exit.
  static const StandardMethodCodec& ForSerializer(
      const StandardCodecSerializer* serializer = nullptr);

  StandardMethodCodec(const StandardCodecSerializer* serializer, Key);
  ~StandardMethodCodec() override = default;

  std::unique_ptr<MethodCall<EncodableValue>> DecodeCall(const uint8_t* message,
                                                         size_t message_size) const override;
  std::unique_ptr<std::vector<uint8_t>> EncodeCall(
      const MethodCall<EncodableValue>& call) const override;
  std::unique_ptr<std::vector<uint8_t>> EncodeSuccessReply(
      const EncodableValue* result = nullptr) const override;
  std::unique_ptr<std::vector<uint8_t>> EncodeErrorReply(
      const std::string& code, const std::string& message = "",
      const EncodableValue* details = nullptr) const override;
  // Also false for an error envelope whose code is not a string or whose message is neither a
  // string nor null.
  bool DecodeReplyInto(const uint8_t* reply, size_t reply_size,
                       MethodResult<EncodableValue>* result) const override;

 private:
  const StandardCodecSerializer* serializer_;
};

}  // namespace flutter

#endif  // KESTRO_ENGINE_CLIENT_CODEC_STANDARD_METHOD_CODEC_H_
