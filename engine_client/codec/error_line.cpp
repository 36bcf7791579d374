#include "engine_client/codec/error_line.h"

#include <iostream>

namespace flutter {
namespace codec_internal {

void WriteErrorLine(std::string text) {
  text.push_back('\n');
  std::cerr.write(text.data(), static_cast<std::streamsize>(text.size()));
  std::cerr.flush();
}

void WriteInvalidReadLine() { WriteErrorLine("Invalid read in StandardCodecByteStreamReader"); }

}  // namespace codec_internal
}  // namespace flutter
