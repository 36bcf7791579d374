// The messaging layer's one way to report a problem: a single flushed line on standard error.
#ifndef KESTRO_ENGINE_CLIENT_MESSAGING_STDERR_LINE_H_
#define KESTRO_ENGINE_CLIENT_MESSAGING_STDERR_LINE_H_

#include <string>

namespace flutter {
namespace messaging_internal {

// Text and line feed go out in one write, so lines from replies on other threads stay whole.
void WriteStderrLine(const std::string& text);

}  // namespace messaging_internal
}  // namespace flutter

#endif  // KESTRO_ENGINE_CLIENT_MESSAGING_STDERR_LINE_H_
