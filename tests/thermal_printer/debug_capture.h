// Collects the debugger output while it exists, so tests can compare log lines in order.
#ifndef KESTRO_TESTS_THERMAL_PRINTER_DEBUG_CAPTURE_H_
#define KESTRO_TESTS_THERMAL_PRINTER_DEBUG_CAPTURE_H_

#include <mutex>
#include <string>
#include <vector>

namespace kestro_test {

// One at a time. Lines are returned without their line feed; a text written without one comes
// back with " <no line feed>" appended so comparisons catch it.
class DebugCapture {
 public:
  DebugCapture();
  ~DebugCapture();
  DebugCapture(const DebugCapture&) = delete;
  DebugCapture& operator=(const DebugCapture&) = delete;

  std::vector<std::string> Lines() const;
  std::vector<std::string> TakeLines();

 private:
  static void Sink(const std::string& text, void* context);

  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

}  // namespace kestro_test

#endif  // KESTRO_TESTS_THERMAL_PRINTER_DEBUG_CAPTURE_H_
