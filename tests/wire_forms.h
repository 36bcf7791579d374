// Standard codec and method codec bytes for the tests that spell messages by hand: one builder
// per wire form, so every suite spells a message the same way. Each returns the bytes as a string.
#ifndef KESTRO_TESTS_WIRE_FORMS_H_
#define KESTRO_TESTS_WIRE_FORMS_H_

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace kestro_test {
namespace wire {

inline std::string LittleEndian(uint64_t value, size_t width) {
  std::string bytes;
  for (size_t i = 0; i < width; ++i) bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
  return bytes;
}

// A size: one byte below 254, else 254 and two bytes, or 255 and four bytes (little-endian).
inline std::string Size(size_t size) {
  if (size < 254) return std::string(1, static_cast<char>(size));
  if (size <= 0xFFFF) return "\xFE" + LittleEndian(size, 2);
  return "\xFF" + LittleEndian(size, 4);
}

// Zero bytes that move position `at` of the message to a multiple of `alignment`.
inline std::string Padding(size_t at, size_t alignment) {
  return std::string((alignment - at % alignment) % alignment, '\0');
}

const std::string kNull(1, '\x00');
const std::string kTrue(1, '\x01');
const std::string kFalse(1, '\x02');
inline std::string Int32(int32_t value) {
  return "\x03" + LittleEndian(static_cast<uint32_t>(value), 4);
}
inline std::string Int64(int64_t value) {
  return "\x04" + LittleEndian(static_cast<uint64_t>(value), 8);
}
// `at` is where the tag stands in the message: the value itself is aligned to 8 from the start.
inline std::string Float64(double value, size_t at = 0) {
  uint64_t bits = 0;
  std::memcpy(&bits, &value, sizeof value);
  return "\x06" + Padding(at + 1, 8) + LittleEndian(bits, 8);
}
inline std::string Str(const std::string& text) { return "\x07" + Size(text.size()) + text; }
inline std::string ByteList(const std::string& bytes) {
  return "\x08" + Size(bytes.size()) + bytes;
}
// Int32 (09), int64 (0A), float64 (0B) or float32 (0E) lists, elements aligned to their size.
template <typename T>
std::string TypedList(char tag, const std::vector<T>& values, size_t at = 0) {
  std::string list = std::string(1, tag) + Size(values.size());
  list += Padding(at + list.size(), sizeof(T));
  for (const T& value : values) {
    uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof value);
    list += LittleEndian(bits, sizeof value);
  }
  return list;
}
inline std::string List(const std::vector<std::string>& values) {
  std::string list = "\x0c" + Size(values.size());
  for (const std::string& value : values) list += value;
  return list;
}
// Entries in the order given: write them in the order the host's maps keep (by key).
inline std::string Map(const std::vector<std::pair<std::string, std::string>>& entries) {
  std::string map = "\x0d" + Size(entries.size());
  for (const auto& entry : entries) map += entry.first + entry.second;
  return map;
}

// Method calls and reply envelopes; an empty error message travels as null.
inline std::string Call(const std::string& method, const std::string& arguments = kNull) {
  return Str(method) + arguments;
}
inline std::string Success(const std::string& value) { return kNull + value; }
inline std::string Error(const std::string& code, const std::string& message,
                         const std::string& details = kNull) {
  return kTrue + Str(code) + (message.empty() ? kNull : Str(message)) + details;
}

// Lists 256 deep whose innermost, a list of three, begins a 257th level with its first element:
// "0C 01" x 255, then "0C 03 0C 01 07 03 'abc'".
inline std::string TooDeepList() {
  std::string bytes = "\x0c\x03" + List({Str("abc")});
  for (int i = 0; i < 255; ++i) bytes = List({bytes});
  return bytes;
}

}  // namespace wire
}  // namespace kestro_test

// The end-to-end tests name these kestro_e2e::wire.
namespace kestro_e2e {
namespace wire = kestro_test::wire;
}  // namespace kestro_e2e

#endif  // KESTRO_TESTS_WIRE_FORMS_H_
