#include "host/command_line.h"

#include <windows.h>

#include <io.h>
#include <shellapi.h>
#include <cstdio>
#include <iostream>

#include "engine_client/engine_library/flutter_desktop_api.h"
#include "win/text.h"

namespace kestro {

void OpenDebugConsole() {
  if (!::AllocConsole()) {
    return;
  }
  FILE* unused = nullptr;
  if (freopen_s(&unused, "CONOUT$", "w", stdout) != 0) {
    _dup2(_fileno(stdout), 1);
  }
  if (freopen_s(&unused, "CONOUT$", "w", stderr) != 0) {
    // Error output then follows standard output.
    _dup2(_fileno(stdout), 2);
  }
  std::ios::sync_with_stdio(true);
  FlutterDesktopResyncOutputStreams();
}

std::vector<std::string> CommandLineArgumentsUtf8() {
  int count = 0;
  wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (argv == nullptr) {
    return {};
  }
  std::vector<std::string> arguments;
  // Index 0 is the program name, which the application does not receive.
  for (int i = 1; i < count; ++i) {
    arguments.push_back(Utf16ToUtf8(argv[i]));
  }
  ::LocalFree(argv);
  return arguments;
}

}  // namespace kestro
