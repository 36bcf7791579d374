// The Bluetooth stack a BluetoothManager gets when none is given. Each executable links exactly
// one definition: default_bluetooth_stack.cpp (the platform's stack, kestro_pos.exe) or the
// simulated world of standins/bluetooth (kestro_pos_simulated.exe).
#ifndef KESTRO_THERMAL_PRINTER_DEFAULT_BLUETOOTH_STACK_H_
#define KESTRO_THERMAL_PRINTER_DEFAULT_BLUETOOTH_STACK_H_

#include <memory>

#include "thermal_printer/bluetooth_stack.h"

namespace kestro {

#ifdef _WIN32
// A new stack owned by the caller; called once, when the first "setup" creates the manager.
std::unique_ptr<BluetoothStack> NewDefaultBluetoothStack();
#endif

}  // namespace kestro

#endif  // KESTRO_THERMAL_PRINTER_DEFAULT_BLUETOOTH_STACK_H_
