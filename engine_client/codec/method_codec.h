// Turns method calls and their success or error replies into byte messages and back. The
// encoders always produce a buffer; decoders never fail on truncated input.
#ifndef KESTRO_ENGINE_CLIENT_CODEC_METHOD_CODEC_H_
#define KESTRO_ENGINE_CLIENT_CODEC_METHOD_CODEC_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine_client/codec/method_call.h"
#include "engine_client/codec/method_result.h"

namespace flutter {

template <typename T>
class MethodCodec {
 public:
  MethodCodec() = default;
  virtual ~MethodCodec() = default;

  MethodCodec(const MethodCodec&) = delete;
  MethodCodec& operator=(const MethodCodec&) = delete;

  // Null exactly when the message does not start with a method name.
  virtual std::unique_ptr<MethodCall<T>> DecodeCall(const uint8_t* message,
                                                    size_t message_size) const = 0;
  virtual std::unique_ptr<std::vector<uint8_t>> EncodeCall(const MethodCall<T>& call) const = 0;
  virtual std::unique_ptr<std::vector<uint8_t>> EncodeSuccessReply(
      const T* result = nullptr) const = 0;
  virtual std::unique_ptr<std::vector<uint8_t>> EncodeErrorReply(
      const std::string& code, const std::string& message = "",
      const T* details = nullptr) const = 0;
  // True after delivering exactly one Success or Error to result; false (and nothing delivered)
  // when the bytes are not a reply envelope.
  virtual bool DecodeReplyInto(const uint8_t* reply, size_t reply_size,
                               MethodResult<T>* result) const = 0;
};

}  // namespace flutter

#endif  // KESTRO_ENGINE_CLIENT_CODEC_METHOD_CODEC_H_
