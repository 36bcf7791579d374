// The process command line as UTF-8 arguments, and the debug console. Main thread, before any
// window or engine exists.
#ifndef KESTRO_HOST_COMMAND_LINE_H_
#define KESTRO_HOST_COMMAND_LINE_H_

#include <string>
#include <vector>

namespace kestro {

// Opens a new console and points stdout, stderr and the engine's own streams at it. Does
// nothing when no console can be allocated.
void OpenDebugConsole();

// Every argument after the program name, as UTF-8, in order. An argument that is not valid
// UTF-16 becomes an empty string in its place; an unsplittable command line gives no arguments.
std::vector<std::string> CommandLineArgumentsUtf8();

}  // namespace kestro

#endif  // KESTRO_HOST_COMMAND_LINE_H_
