// kestro_pos.exe's Bluetooth: Winsock and the Windows Bluetooth API.
#include "thermal_printer/default_bluetooth_stack.h"

#include "thermal_printer/windows_bluetooth_stack.h"

namespace kestro {

std::unique_ptr<BluetoothStack> NewDefaultBluetoothStack() { return NewWindowsBluetoothStack(); }

}  // namespace kestro
