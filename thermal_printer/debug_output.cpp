#include "thermal_printer/debug_output.h"

#include <mutex>

#ifdef _WIN32
#include <windows.h>
#endif

namespace kestro {
namespace {

// Constant-initialised so lines logged by static destructors at exit still find them.
std::mutex sink_mutex;
DebugOutputSink sink_function = nullptr;
void* sink_context = nullptr;

}  // namespace

void WriteDebugOutput(const std::string& text) {
#ifdef _WIN32
  OutputDebugStringA(text.c_str());
#endif
  std::lock_guard<std::mutex> lock(sink_mutex);
  if (sink_function != nullptr) sink_function(text, sink_context);
}

void SetDebugOutputSink(DebugOutputSink sink, void* context) {
  std::lock_guard<std::mutex> lock(sink_mutex);
  sink_function = sink;
  sink_context = context;
}

}  // namespace kestro
