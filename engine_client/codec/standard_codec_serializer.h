// The standard codec: writes an encodable value as tag and little-endian payload and reads it
// back. Stateless; the shared instance may be used from any number of threads at once. Problems
// become one line on standard error and a neutral value, never an exception or an abort.
#ifndef KESTRO_ENGINE_CLIENT_CODEC_STANDARD_CODEC_SERIALIZER_H_
#define KESTRO_ENGINE_CLIENT_CODEC_STANDARD_CODEC_SERIALIZER_H_

#include <cstddef>
#include <cstdint>

#include "engine_client/codec/byte_streams.h"
#include "engine_client/codec/encodable_value.h"

namespace flutter {

class StandardCodecSerializer {
 public:
  // Lists and maps nest at most this deep. The value that would open the next level reads as
  // null and ends the message: enclosing lists and maps keep what they completed before it (a
  // map entry whose value it was is dropped), and the reader reports NestingLimitReached.
  static constexpr unsigned kMaxNestingDepth = 256;
  // The largest count a size field carries.
  static constexpr uint64_t kMaxSize = 0xFFFFFFFFu;

  StandardCodecSerializer() = default;
  virtual ~StandardCodecSerializer() = default;

  StandardCodecSerializer(const StandardCodecSerializer&) = delete;
  StandardCodecSerializer& operator=(const StandardCodecSerializer&) = delete;

  // The process-wide instance, created on first use.
  static const StandardCodecSerializer& Shared();

  // Reads a tag and then the value it names; null without reading once the nesting limit ended
  // the message.
  EncodableValue ReadNextValue(ByteStreamReader* stream) const;

  // Writes one value. Values the format cannot carry (custom values, sizes above kMaxSize) are
  // written as null after an error line.
  virtual void WriteValue(const EncodableValue& value, ByteStreamWriter* stream) const;

  // Reads the payload of a value whose tag was just read. Derived serializers add tags here
  // and in WriteValue; nested values come back through both.
  virtual EncodableValue ReadValueOfType(uint8_t type, ByteStreamReader* stream) const;

  // The size field. A size above kMaxSize writes an error line and nothing else.
  void WriteLength(size_t length, ByteStreamWriter* stream) const;
  size_t ReadLength(ByteStreamReader* stream) const;

  // Writes the tag and size field of a sized value and returns true, or, when size exceeds
  // kMaxSize, writes the error line and the null tag instead and returns false.
  bool WriteSizedHeader(uint8_t type, size_t size, ByteStreamWriter* stream) const;

 private:
  EncodableValue ReadList(ByteStreamReader* stream) const;
  EncodableValue ReadMap(ByteStreamReader* stream) const;
};

}  // namespace flutter

#endif  // KESTRO_ENGINE_CLIENT_CODEC_STANDARD_CODEC_SERIALIZER_H_
