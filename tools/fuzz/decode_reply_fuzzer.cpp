// DecodeReplyInto delivers exactly one outcome when it accepts the bytes and none otherwise,
// whatever the bytes are.
#include <cstddef>
#include <cstdint>
#include <string>

#include "engine_client/codec/method_result.h"
#include "engine_client/codec/standard_method_codec.h"
#include "tools/fuzz/fuzz_support.h"

namespace {

class CountingResult : public flutter::MethodResult<flutter::EncodableValue> {
 public:
  int outcomes = 0;
  void Success(const flutter::EncodableValue*) override { ++outcomes; }
  void Error(const std::string&, const std::string&, const flutter::EncodableValue*) override {
    ++outcomes;
  }
  void NotImplemented() override { kestro_fuzz::Fail("the codec never reports not-implemented"); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kestro_fuzz::SilenceDiagnostics();
  CountingResult result;
  const bool accepted =
      flutter::StandardMethodCodec::ForSerializer().DecodeReplyInto(data, size, &result);
  if (result.outcomes != (accepted ? 1 : 0)) {
    kestro_fuzz::Fail("outcome count does not match the decode result");
  }
  return 0;
}
