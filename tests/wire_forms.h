// Standard codec and method codec bytes for end-to-end expectations: one builder per wire form,
// so every test spells a message the same way. Each returns the encoded bytes as a string.
#ifndef KESTRO_TESTS_E2E_WIRE_FORMS_H_
#define KESTRO_TESTS_E2E_WIRE_FORMS_H_

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kestro_e2e {
namespace wire {

// A size: one byte below 254, else 254 and two bytes, or 255 and four bytes (little-endian).
inline std::string Size(size_t size) {
  std::string bytes;
  if (size < 254) return std::string(1, static_cast<char>(size));
  const int width = size <= 0xFFFF ? 2 : 4;
  bytes += static_cast<char>(width == 2 ? 254 : 255);
  for (int i = 0; i < width; ++i) bytes += static_cast<char>((size >> (8 * i)) & 0xFF);
  return bytes;
}

inline std::string LittleEndian(uint64_t value, int width) {
  std::string bytes;
  for (int i = 0; i < width; ++i) bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
  return bytes;
}

const std::string kNull(1, '\x00');
const std::string kTrue(1, '\x01');
const std::string kFalse(1, '\x02');
inline std::string Bool(bool value) { return value ? kTrue : kFalse; }
inline std::string Int32(int32_t value) {
  return "\x03" + LittleEndian(static_cast<uint32_t>(value), 4);
}
inline std::string Int64(int64_t value) {
  return "\x04" + LittleEndian(static_cast<uint64_t>(value), 8);
}
inline std::string Str(const std::string& text) { return "\x07" + Size(text.size()) + text; }
inline std::string ByteList(const std::string& bytes) {
  return "\x08" + Size(bytes.size()) + bytes;
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

// Method calls and reply envelopes.
inline std::string Call(const std::string& method, const std::string& arguments = kNull) {
  return Str(method) + arguments;
}
inline std::string Success(const std::string& value) { return kNull + value; }
inline std::string Error(const std::string& code, const std::string& message) {
  return std::string(1, '\x01') + Str(code) + Str(message) + kNull;
}

}  // namespace wire
}  // namespace kestro_e2e

#endif  // KESTRO_TESTS_E2E_WIRE_FORMS_H_
