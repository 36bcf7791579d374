// Helpers shared by the codec tests: wire bytes, value sameness and standard-error capture.
#ifndef KESTRO_TESTS_CODEC_CODEC_TEST_UTIL_H_
#define KESTRO_TESTS_CODEC_CODEC_TEST_UTIL_H_

#include <cstdint>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "engine_client/codec/encodable_value.h"
#include "tests/wire_forms.h"

namespace kestro_test {

using Bytes = std::vector<uint8_t>;

// The bytes of a wire form, as the codec's streams take them.
inline Bytes ToBytes(const std::string& bytes) { return Bytes(bytes.begin(), bytes.end()); }

// Same alternative and content: neither orders before the other.
inline bool Same(const flutter::EncodableValue& a, const flutter::EncodableValue& b) {
  return !(a < b) && !(b < a);
}

// Collects everything written to std::cerr while alive.
class StderrCapture {
 public:
  StderrCapture() : previous_(std::cerr.rdbuf(captured_.rdbuf())) {}
  ~StderrCapture() { std::cerr.rdbuf(previous_); }
  StderrCapture(const StderrCapture&) = delete;
  StderrCapture& operator=(const StderrCapture&) = delete;

  std::string Text() const { return captured_.str(); }

 private:
  std::ostringstream captured_;
  std::streambuf* previous_;
};

inline const std::string kInvalidRead = "Invalid read in StandardCodecByteStreamReader\n";
inline const std::string kNestingTooDeep =
    "Nesting too deep in StandardCodecSerializer::ReadValueOfType\n";

// 255 one-element lists, then at depth 256 a list of three whose first element would open
// depth 257: "0C 01" x 255, "0C 03 0C 01 07 03 'abc'".
inline std::string TooDeepList() {
  std::string bytes;
  for (int i = 0; i < 255; ++i) bytes += "\x0c\x01";
  return bytes + "\x0c\x03\x0c\x01" + wire::Str("abc");
}

}  // namespace kestro_test

#endif  // KESTRO_TESTS_CODEC_CODEC_TEST_UTIL_H_
