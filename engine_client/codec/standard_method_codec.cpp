#include "engine_client/codec/standard_method_codec.h"

#include <map>
#include <mutex>
#include <utility>

#include "engine_client/codec/stderr_line.h"

namespace flutter {

namespace {

constexpr uint8_t kSuccessEnvelope = 0;
constexpr uint8_t kErrorEnvelope = 1;

// Most messages fit at once; growing from empty would reallocate for every few bytes.
std::unique_ptr<std::vector<uint8_t>> NewMessageBuffer() {
  auto buffer = std::make_unique<std::vector<uint8_t>>();
  buffer->reserve(256);
  return buffer;
}

// A reference, never a copy: "p ? *p : EncodableValue()" would deep-copy the whole tree.
const EncodableValue& OrNull(const EncodableValue* value) {
  static const EncodableValue kNull;
  return value ? *value : kNull;
}

struct CodecRegistry {
  std::mutex mutex;
  std::map<const StandardCodecSerializer*, std::unique_ptr<StandardMethodCodec>> codecs;
};

// Never destroyed: codecs handed out must stay valid for objects torn down at process exit.
CodecRegistry& Registry() {
  static CodecRegistry& registry = *std::make_unique<CodecRegistry>().release();
  return registry;
}

}  // namespace

const StandardMethodCodec& StandardMethodCodec::ForSerializer(
    const StandardCodecSerializer* serializer) {
  if (serializer == nullptr) {
    serializer = &StandardCodecSerializer::Shared();
  }
  CodecRegistry& registry = Registry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  std::unique_ptr<StandardMethodCodec>& codec = registry.codecs[serializer];
  if (!codec) {
    codec = std::make_unique<StandardMethodCodec>(serializer, Key{});
  }
  return *codec;
}

StandardMethodCodec::StandardMethodCodec(const StandardCodecSerializer* serializer, Key)
    : serializer_(serializer) {}

std::unique_ptr<MethodCall<EncodableValue>> StandardMethodCodec::DecodeCall(
    const uint8_t* message, size_t message_size) const {
  ByteBufferStreamReader stream(message, message_size);
  EncodableValue name = serializer_->ReadNextValue(&stream);
  // A message cut short at the nesting limit is refused whole: its line has been written.
  if (stream.NestingLimitReached()) {
    return nullptr;
  }
  std::string* name_text = std::get_if<std::string>(&name);
  if (name_text == nullptr) {
    kestro::WriteStderrLine("Invalid method call; method name is not a string.");
    return nullptr;
  }
  auto arguments = std::make_unique<EncodableValue>(serializer_->ReadNextValue(&stream));
  if (stream.NestingLimitReached()) {
    return nullptr;
  }
  return std::make_unique<MethodCall<EncodableValue>>(std::move(*name_text), std::move(arguments));
}

std::unique_ptr<std::vector<uint8_t>> StandardMethodCodec::EncodeCall(
    const MethodCall<EncodableValue>& call) const {
  auto buffer = NewMessageBuffer();
  ByteBufferStreamWriter stream(buffer.get());
  serializer_->WriteValue(EncodableValue(call.MethodName()), &stream);
  serializer_->WriteValue(OrNull(call.Arguments()), &stream);
  return buffer;
}

std::unique_ptr<std::vector<uint8_t>> StandardMethodCodec::EncodeSuccessReply(
    const EncodableValue* result) const {
  auto buffer = NewMessageBuffer();
  ByteBufferStreamWriter stream(buffer.get());
  stream.PutByte(kSuccessEnvelope);
  serializer_->WriteValue(OrNull(result), &stream);
  return buffer;
}

std::unique_ptr<std::vector<uint8_t>> StandardMethodCodec::EncodeErrorReply(
    const std::string& code, const std::string& message, const EncodableValue* details) const {
  auto buffer = NewMessageBuffer();
  ByteBufferStreamWriter stream(buffer.get());
  stream.PutByte(kErrorEnvelope);
  serializer_->WriteValue(EncodableValue(code), &stream);
  serializer_->WriteValue(message.empty() ? EncodableValue() : EncodableValue(message), &stream);
  serializer_->WriteValue(OrNull(details), &stream);
  return buffer;
}

bool StandardMethodCodec::DecodeReplyInto(const uint8_t* reply, size_t reply_size,
                                          MethodResult<EncodableValue>* result) const {
  ByteBufferStreamReader stream(reply, reply_size);
  const uint8_t envelope = stream.GetByte();
  if (envelope == kSuccessEnvelope) {
    const EncodableValue value = serializer_->ReadNextValue(&stream);
    if (stream.NestingLimitReached()) {
      return false;
    }
    result->Success(value.IsNull() ? nullptr : &value);
    return true;
  }
  if (envelope != kErrorEnvelope) {
    return false;
  }
  const EncodableValue code = serializer_->ReadNextValue(&stream);
  const EncodableValue message = serializer_->ReadNextValue(&stream);
  const EncodableValue details = serializer_->ReadNextValue(&stream);
  if (stream.NestingLimitReached()) {
    return false;
  }
  // A code that is not text, or a message that is neither text nor null, makes this no envelope.
  const std::string* code_text = std::get_if<std::string>(&code);
  const std::string* message_text = std::get_if<std::string>(&message);
  if (code_text == nullptr || (message_text == nullptr && !message.IsNull())) {
    return false;
  }
  result->Error(*code_text, message_text ? *message_text : std::string(),
                details.IsNull() ? nullptr : &details);
  return true;
}

}  // namespace flutter
