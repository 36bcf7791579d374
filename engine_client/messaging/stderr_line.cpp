#include "engine_client/messaging/stderr_line.h"

#include <iostream>

namespace flutter {
namespace messaging_internal {

void WriteStderrLine(const std::string& text) { std::cerr << (text + '\n') << std::flush; }

}  // namespace messaging_internal
}  // namespace flutter
