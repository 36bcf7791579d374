// Collects the debugger output while it exists, so tests can compare log lines in order.
#ifndef KESTRO_TESTS_THERMAL_PRINTER_DEBUG_CAPTURE_H_
#define KESTRO_TESTS_THERMAL_PRINTER_DEBUG_CAPTURE_H_

#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "thermal_printer/debug_output.h"

namespace kestro_test {

// One at a time. Lines are returned without their line feed; a text written without one comes
// back with " <no line feed>" appended so comparisons catch it.
class DebugCapture {
 public:
  DebugCapture() { kestro::SetDebugOutputSink(&DebugCapture::Sink, this); }
  ~DebugCapture() { kestro::SetDebugOutputSink(nullptr, nullptr); }
  DebugCapture(const DebugCapture&) = delete;
  DebugCapture& operator=(const DebugCapture&) = delete;

  std::vector<std::string> Lines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }
  std::vector<std::string> TakeLines() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(lines_, {});
  }

 private:
  static void Sink(const std::string& text, void* context) {
    auto* capture = static_cast<DebugCapture*>(context);
    const bool terminated = !text.empty() && text.back() == '\n';
    std::lock_guard<std::mutex> lock(capture->mutex_);
    capture->lines_.push_back(terminated ? text.substr(0, text.size() - 1)
                                         : text + " <no line feed>");
  }

  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

}  // namespace kestro_test

#endif  // KESTRO_TESTS_THERMAL_PRINTER_DEBUG_CAPTURE_H_
