// The simulated Bluetooth world as a text file: the radio, the devices Windows knows and how
// each printer behaves. tools/demo/simulated_bluetooth.txt documents the format. Pure and
// portable: reading the file and writing what printers receive belong to the caller.
#ifndef KESTRO_STANDINS_BLUETOOTH_SIMULATED_WORLD_H_
#define KESTRO_STANDINS_BLUETOOTH_SIMULATED_WORLD_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "standins/bluetooth/simulated_bluetooth_stack.h"

namespace kestro_standin {

struct SimulatedPrinter {
  uint64_t address = 0;
  PrinterBehaviour behaviour;
};

struct SimulatedWorld {
  bool radio_present = true;
  std::vector<SimulatedDevice> devices;
  std::vector<SimulatedPrinter> printers;
};

// Where and why a world file was refused; line counts from 1.
struct WorldError {
  size_t line = 0;
  std::string what;
};

// Parses the whole text into *world; its printers keep no bytes in memory (the simulated
// executable writes them to files). On the first malformed line returns false with *error set,
// and *world is then unspecified.
bool ParseSimulatedWorld(std::string_view text, SimulatedWorld* world, WorldError* error);

// Gives the stack the world's radio, devices and printers.
void ApplySimulatedWorld(const SimulatedWorld& world, SimulatedBluetoothStack* stack);

// "0123456789AB" for 01:23:45:67:89:AB: the name of the printer's received-bytes file.
std::string AddressFileName(uint64_t address);

}  // namespace kestro_standin

#endif  // KESTRO_STANDINS_BLUETOOTH_SIMULATED_WORLD_H_
