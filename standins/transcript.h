// The stand-in transcript: one line per event the application side sees, appended to the file
// named by KESTRO_STANDIN_TRANSCRIPT (standard error when unset). Shared by the stand-in engine
// and the stand-in plug-in libraries, each of which links its own copy.
#ifndef KESTRO_STANDINS_TRANSCRIPT_H_
#define KESTRO_STANDINS_TRANSCRIPT_H_

#include <stddef.h>
#include <stdint.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestro_standin {

// Lower-case hex of the bytes, unseparated; an empty sequence is written as "-".
std::string HexBytes(const uint8_t* bytes, size_t size);
std::string HexBytes(const std::vector<uint8_t>& bytes);

// Reads what HexBytes writes (either letter case; "-" is the empty sequence). Null for an odd
// digit count, a non-hex character or empty text.
std::optional<std::vector<uint8_t>> ParseHexBytes(std::string_view text);

// Appends the line and its line end in one write, so lines from several modules and threads
// never interleave. The variable is read on every call: tests switch files between cases.
void WriteTranscriptLine(std::string_view line);

// Up to `count` last lines of the transcript file; when the transcript goes to standard error,
// the last lines this module wrote.
std::vector<std::string> TranscriptTail(size_t count);

}  // namespace kestro_standin

#endif  // KESTRO_STANDINS_TRANSCRIPT_H_
