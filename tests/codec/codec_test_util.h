// Helpers shared by the codec and channel tests: wire bytes, value sameness, the codec's error
// lines and a method result that records its outcomes.
#ifndef KESTRO_TESTS_CODEC_CODEC_TEST_UTIL_H_
#define KESTRO_TESTS_CODEC_CODEC_TEST_UTIL_H_

#include <cstdint>
#include <iostream>
#include <string>
#include <vector>

#include "engine_client/codec/byte_streams.h"
#include "engine_client/codec/encodable_value.h"
#include "engine_client/codec/method_result.h"
#include "engine_client/codec/standard_codec_serializer.h"
#include "tests/wire_forms.h"

namespace kestro_test {

using Bytes = std::vector<uint8_t>;

// The bytes of a wire form, as the codec's streams take them.
inline Bytes ToBytes(const std::string& bytes) { return Bytes(bytes.begin(), bytes.end()); }

// A value as the shared serializer writes it.
inline Bytes Encode(const flutter::EncodableValue& value) {
  Bytes bytes;
  flutter::ByteBufferStreamWriter writer(&bytes);
  flutter::StandardCodecSerializer::Shared().WriteValue(value, &writer);
  return bytes;
}

// Same alternative and content: neither orders before the other.
inline bool Same(const flutter::EncodableValue& a, const flutter::EncodableValue& b) {
  return !(a < b) && !(b < a);
}

// " = <encoded bytes>" for a value, nothing for none.
inline std::string Describe(const flutter::EncodableValue* value) {
  if (value == nullptr) return "";
  const Bytes bytes = Encode(*value);
  return " = " + std::string(bytes.begin(), bytes.end());
}

inline const std::string kInvalidRead = "Invalid read in StandardCodecByteStreamReader\n";
inline const std::string kNestingTooDeep =
    "Nesting too deep in StandardCodecSerializer::ReadValueOfType\n";

// Logs each outcome as "success", "error <code> '<message>'" or "not implemented", with
// " = <encoded bytes>" when a value came with it, and "destroyed" when it goes. NotImplemented
// also writes "<not implemented>" to standard error, so a test sees which error lines came first.
class RecordingResult : public flutter::MethodResult<flutter::EncodableValue> {
 public:
  explicit RecordingResult(std::vector<std::string>* log) : log_(log) {}
  ~RecordingResult() override { log_->push_back("destroyed"); }

  void Success(const flutter::EncodableValue* result) override {
    log_->push_back("success" + Describe(result));
  }
  void Error(const std::string& code, const std::string& message,
             const flutter::EncodableValue* details) override {
    log_->push_back("error " + code + " '" + message + "'" + Describe(details));
  }
  void NotImplemented() override {
    log_->push_back("not implemented");
    std::cerr << "<not implemented>\n" << std::flush;
  }

 private:
  std::vector<std::string>* log_;
};

}  // namespace kestro_test

#endif  // KESTRO_TESTS_CODEC_CODEC_TEST_UTIL_H_
