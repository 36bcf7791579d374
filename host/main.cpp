// Process entry: runs the host with the crash guard installed, so any native crash on any
// thread becomes the crash dialog and exit code 1.
#include <windows.h>

#include "host/crash_guard.h"
#include "host/run_host.h"
#include "thermal_printer/thermal_printer_plugin.h"

namespace kestro {
namespace {

// The host's life after the crash guard is in place: the window and its loop, then the printer
// jobs still running, which finish however long they take (no receipt is cut off), before the
// process exits and destroys the Bluetooth manager.
int RunHostAndFinishPrinting() {
  const int exit_code = RunHost();
  ShutDownThermalPrinterPlugin();
  return exit_code;
}

}  // namespace
}  // namespace kestro

int APIENTRY wWinMain(HINSTANCE, HINSTANCE, wchar_t*, int) {
  kestro::InstallCrashGuard();
#ifdef _MSC_VER
  // A library may replace the process filter; the main thread keeps this fallback. Its filter
  // takes the same path and never returns, so no frame is unwound while windows still route
  // messages to objects on it.
  __try {
    return kestro::RunHostAndFinishPrinting();
  } __except (kestro::CrashFilter(GetExceptionInformation())) {
    return 1;
  }
#else
  return kestro::RunHostAndFinishPrinting();
#endif
}
