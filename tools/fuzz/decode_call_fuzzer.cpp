// DecodeCall never fails on hostile bytes; a decoded call re-encodes to a call that decodes to
// the same name and arguments.
#include <cstddef>
#include <cstdint>

#include "engine_client/codec/standard_method_codec.h"
#include "tools/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kestro_fuzz::SilenceDiagnostics();
  const auto& codec = flutter::StandardMethodCodec::ForSerializer();
  auto call = codec.DecodeCall(data, size);
  if (!call) return 0;
  if (call->Arguments() == nullptr) kestro_fuzz::Fail("decoded call without arguments");
  auto encoded = codec.EncodeCall(*call);
  auto again = codec.DecodeCall(encoded->data(), encoded->size());
  if (!again || again->MethodName() != call->MethodName() ||
      !kestro_fuzz::SameValue(*again->Arguments(), *call->Arguments())) {
    kestro_fuzz::Fail("call does not survive a round trip");
  }
  return 0;
}
