#include "engine_client/codec/stderr_line.h"

#include <iostream>
#include <mutex>
#include <string>

namespace kestro {

void WriteStderrLine(std::string_view text) {
  std::string line;
  line.reserve(text.size() + 1);
  line.append(text);
  line.push_back('\n');
  // The lock makes the line whole whatever the stream's buffer does with one long write.
  static std::mutex lock;
  const std::lock_guard<std::mutex> hold(lock);
  std::cerr.write(line.data(), static_cast<std::streamsize>(line.size()));
  std::cerr.flush();
}

}  // namespace kestro

namespace flutter {
namespace codec_internal {

void WriteInvalidReadLine() {
  kestro::WriteStderrLine("Invalid read in StandardCodecByteStreamReader");
}

}  // namespace codec_internal
}  // namespace flutter
