// The one writer of diagnostic lines on standard error for the codec, messaging and engine layers.
#ifndef KESTRO_ENGINE_CLIENT_CODEC_STDERR_LINE_H_
#define KESTRO_ENGINE_CLIENT_CODEC_STDERR_LINE_H_

#include <string_view>

namespace kestro {

// Writes text and a line feed to std::cerr in one write under a process-wide lock, then flushes,
// so lines from concurrent threads never interleave.
void WriteStderrLine(std::string_view text);

}  // namespace kestro

namespace flutter {
namespace codec_internal {

// The line for a read past the end of the input.
void WriteInvalidReadLine();

}  // namespace codec_internal
}  // namespace flutter

#endif  // KESTRO_ENGINE_CLIENT_CODEC_STDERR_LINE_H_
