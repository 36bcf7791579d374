// The codec's one way to report a problem: a single line on standard error, flushed.
#ifndef KESTRO_ENGINE_CLIENT_CODEC_ERROR_LINE_H_
#define KESTRO_ENGINE_CLIENT_CODEC_ERROR_LINE_H_

#include <string>

namespace flutter {
namespace codec_internal {

// Writes text and a line feed in one write, so lines from concurrent decodes do not interleave.
void WriteErrorLine(std::string text);

// The line for a read past the end of the input.
void WriteInvalidReadLine();

}  // namespace codec_internal
}  // namespace flutter

#endif  // KESTRO_ENGINE_CLIENT_CODEC_ERROR_LINE_H_
