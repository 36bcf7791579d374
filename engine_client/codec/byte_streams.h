// Byte sources and sinks for the standard codec, plus their buffer implementations. A reader or
// writer belongs to one encode or decode call on one thread. Offsets used for alignment count
// from the start of the buffer (the whole message), never from a memory address.
#ifndef KESTRO_ENGINE_CLIENT_CODEC_BYTE_STREAMS_H_
#define KESTRO_ENGINE_CLIENT_CODEC_BYTE_STREAMS_H_

#include <cstddef>
#include <cstdint>
#include <vector>

namespace flutter {

class StandardCodecSerializer;

class ByteStreamReader {
 public:
  // What BytesRemaining reports when a source cannot tell. SIZE_MAX rather than numeric_limits'
  // max(), which a user's <windows.h> without NOMINMAX turns into a macro call.
  static constexpr size_t kUnknownRemaining = SIZE_MAX;

  ByteStreamReader() = default;
  virtual ~ByteStreamReader() = default;

  ByteStreamReader(const ByteStreamReader&) = delete;
  ByteStreamReader& operator=(const ByteStreamReader&) = delete;

  // The next byte; past the end, 0 after an error line.
  virtual uint8_t GetByte() = 0;
  // Copies the next length bytes; past the end, writes an error line and leaves destination
  // and position untouched.
  virtual void GetBytes(uint8_t* destination, size_t length) = 0;
  // Advances to the next multiple of alignment; may move past the end.
  virtual void SkipPadding(uint8_t alignment) = 0;
  // Bytes still readable, so hostile sizes can be refused before allocating.
  virtual size_t BytesRemaining() const { return kUnknownRemaining; }

  // True once a list or map would have opened deeper than the serializer allows. Nothing more of
  // the message is read after that, so the value read is cut short and callers refuse it.
  bool NestingLimitReached() const { return nesting_limit_reached_; }

 private:
  friend class StandardCodecSerializer;
  // Lists and maps open in the current decode; carried here so the bound holds through a
  // derived serializer's ReadValueOfType and stays per message.
  unsigned nesting_depth_ = 0;
  bool nesting_limit_reached_ = false;
};

class ByteStreamWriter {
 public:
  ByteStreamWriter() = default;
  virtual ~ByteStreamWriter() = default;

  ByteStreamWriter(const ByteStreamWriter&) = delete;
  ByteStreamWriter& operator=(const ByteStreamWriter&) = delete;

  virtual void PutByte(uint8_t byte) = 0;
  virtual void PutBytes(const uint8_t* bytes, size_t length) = 0;
  // Appends zero bytes up to the next multiple of alignment.
  virtual void PutPadding(uint8_t alignment) = 0;
};

// Reads a caller's byte range, which must outlive the reader.
class ByteBufferStreamReader : public ByteStreamReader {
 public:
  ByteBufferStreamReader(const uint8_t* bytes, size_t size);

  uint8_t GetByte() override;
  void GetBytes(uint8_t* destination, size_t length) override;
  void SkipPadding(uint8_t alignment) override;
  size_t BytesRemaining() const override;

 private:
  const uint8_t* bytes_;
  size_t size_;
  size_t position_ = 0;
};

// Appends to a caller's vector (never null), whose length is the write offset.
class ByteBufferStreamWriter : public ByteStreamWriter {
 public:
  explicit ByteBufferStreamWriter(std::vector<uint8_t>* buffer);

  void PutByte(uint8_t byte) override;
  void PutBytes(const uint8_t* bytes, size_t length) override;
  void PutPadding(uint8_t alignment) override;

 private:
  std::vector<uint8_t>* buffer_;
};

}  // namespace flutter

#endif  // KESTRO_ENGINE_CLIENT_CODEC_BYTE_STREAMS_H_
