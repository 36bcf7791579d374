// Any bytes decode to a complete value tree; re-encoding that tree and decoding it again gives
// back the same tree.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine_client/codec/byte_streams.h"
#include "engine_client/codec/standard_codec_serializer.h"
#include "tools/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kestro_fuzz::SilenceDiagnostics();
  const auto& serializer = flutter::StandardCodecSerializer::Shared();
  flutter::ByteBufferStreamReader reader(data, size);
  const flutter::EncodableValue value = serializer.ReadNextValue(&reader);

  std::vector<uint8_t> encoded;
  flutter::ByteBufferStreamWriter writer(&encoded);
  serializer.WriteValue(value, &writer);
  flutter::ByteBufferStreamReader again(encoded.data(), encoded.size());
  if (!kestro_fuzz::SameValue(value, serializer.ReadNextValue(&again))) {
    kestro_fuzz::Fail("value does not survive a second round trip");
  }
  return 0;
}
