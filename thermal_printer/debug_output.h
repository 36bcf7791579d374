// The debugger output every component log line goes to: OutputDebugStringA on Windows, nothing
// elsewhere. A capture sink lets tests read the lines in order on both builds.
#ifndef KESTRO_THERMAL_PRINTER_DEBUG_OUTPUT_H_
#define KESTRO_THERMAL_PRINTER_DEBUG_OUTPUT_H_

#include <string>

namespace kestro {

// Writes text exactly as given (callers add the line feed). Safe from any thread; never takes a
// lock other than the sink's own, so it may be called with any component lock held.
void WriteDebugOutput(const std::string& text);

// Receives every text written, in order, one call at a time. Runs on the writing thread.
using DebugOutputSink = void (*)(const std::string& text, void* context);

// Installs (sink, context) beside the platform output; a null sink removes it. Returns only
// after any write that was reaching the previous sink has finished.
void SetDebugOutputSink(DebugOutputSink sink, void* context);

}  // namespace kestro

#endif  // KESTRO_THERMAL_PRINTER_DEBUG_OUTPUT_H_
