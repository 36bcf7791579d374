// The production Bluetooth stack: Winsock (ws2_32) and the Windows Bluetooth API (bthprops).
#ifndef KESTRO_THERMAL_PRINTER_WINDOWS_BLUETOOTH_STACK_H_
#define KESTRO_THERMAL_PRINTER_WINDOWS_BLUETOOTH_STACK_H_

#include <memory>

#include "thermal_printer/bluetooth_stack.h"

namespace kestro {

#ifdef _WIN32
// A stateless pass-through to the real platform calls; any number may exist at once.
std::unique_ptr<BluetoothStack> NewWindowsBluetoothStack();
#endif

}  // namespace kestro

#endif  // KESTRO_THERMAL_PRINTER_WINDOWS_BLUETOOTH_STACK_H_
