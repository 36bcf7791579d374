// Helpers shared by the codec tests: byte literals, value sameness and standard-error capture.
#ifndef KESTRO_TESTS_CODEC_CODEC_TEST_UTIL_H_
#define KESTRO_TESTS_CODEC_CODEC_TEST_UTIL_H_

#include <cstdint>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "engine_client/codec/encodable_value.h"

namespace kestro_test {

using Bytes = std::vector<uint8_t>;

// "07 02 'ab'" gives 07 02 61 62: hexadecimal bytes, and text between quotes as its bytes.
inline Bytes Hex(const std::string& text) {
  Bytes bytes;
  for (size_t i = 0; i < text.size();) {
    if (text[i] == ' ') {
      ++i;
    } else if (text[i] == '\'') {
      const size_t end = text.find('\'', i + 1);
      bytes.insert(bytes.end(), text.begin() + i + 1, text.begin() + end);
      i = end + 1;
    } else {
      bytes.push_back(static_cast<uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
      i += 2;
    }
  }
  return bytes;
}

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
inline std::string TooDeepListHex() {
  std::string hex;
  for (int i = 0; i < 255; ++i) hex += "0C 01 ";
  return hex + "0C 03 0C 01 07 03 'abc'";
}

}  // namespace kestro_test

#endif  // KESTRO_TESTS_CODEC_CODEC_TEST_UTIL_H_
