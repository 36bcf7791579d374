#include "tests/thermal_printer/debug_capture.h"

#include <utility>

#include "thermal_printer/debug_output.h"

namespace kestro_test {

DebugCapture::DebugCapture() { kestro::SetDebugOutputSink(&DebugCapture::Sink, this); }

DebugCapture::~DebugCapture() { kestro::SetDebugOutputSink(nullptr, nullptr); }

std::vector<std::string> DebugCapture::Lines() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lines_;
}

std::vector<std::string> DebugCapture::TakeLines() {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::exchange(lines_, {});
}

void DebugCapture::Sink(const std::string& text, void* context) {
  auto* capture = static_cast<DebugCapture*>(context);
  const bool terminated = !text.empty() && text.back() == '\n';
  std::lock_guard<std::mutex> lock(capture->mutex_);
  capture->lines_.push_back(terminated ? text.substr(0, text.size() - 1)
                                       : text + " <no line feed>");
}

}  // namespace kestro_test
