#include "engine_client/codec/byte_streams.h"

#include <cstring>

#include "engine_client/codec/stderr_line.h"

namespace flutter {

using codec_internal::WriteInvalidReadLine;

ByteBufferStreamReader::ByteBufferStreamReader(const uint8_t* bytes, size_t size)
    : bytes_(bytes), size_(size) {}

uint8_t ByteBufferStreamReader::GetByte() {
  if (position_ >= size_) {
    WriteInvalidReadLine();
    return 0;
  }
  return bytes_[position_++];
}

void ByteBufferStreamReader::GetBytes(uint8_t* destination, size_t length) {
  // Written so that neither a position past the end nor a huge length can overflow.
  if (position_ > size_ || length > size_ - position_) {
    WriteInvalidReadLine();
    return;
  }
  if (length != 0) {
    std::memcpy(destination, bytes_ + position_, length);
    position_ += length;
  }
}

void ByteBufferStreamReader::SkipPadding(uint8_t alignment) {
  if (alignment == 0) {
    return;
  }
  const size_t remainder = position_ % alignment;
  if (remainder != 0) {
    position_ += alignment - remainder;
  }
}

size_t ByteBufferStreamReader::BytesRemaining() const {
  return position_ < size_ ? size_ - position_ : 0;
}

ByteBufferStreamWriter::ByteBufferStreamWriter(std::vector<uint8_t>* buffer) : buffer_(buffer) {}

void ByteBufferStreamWriter::PutByte(uint8_t byte) { buffer_->push_back(byte); }

void ByteBufferStreamWriter::PutBytes(const uint8_t* bytes, size_t length) {
  if (length != 0) {
    buffer_->insert(buffer_->end(), bytes, bytes + length);
  }
}

void ByteBufferStreamWriter::PutPadding(uint8_t alignment) {
  if (alignment == 0) {
    return;
  }
  const size_t remainder = buffer_->size() % alignment;
  if (remainder != 0) {
    buffer_->insert(buffer_->end(), alignment - remainder, uint8_t{0});
  }
}

}  // namespace flutter
