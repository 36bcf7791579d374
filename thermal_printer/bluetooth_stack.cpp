#include "thermal_printer/bluetooth_stack.h"

namespace kestro {

RfcommSocketAddress MakeRfcommSocketAddress(uint64_t address) {
  RfcommSocketAddress bytes{};
  bytes[0] = static_cast<uint8_t>(kAddressFamilyBluetooth & 0xFF);
  bytes[1] = static_cast<uint8_t>(kAddressFamilyBluetooth >> 8);
  const uint64_t btaddr = address & 0xFFFFFFFFFFFFull;
  for (size_t i = 0; i < 8; ++i) bytes[2 + i] = static_cast<uint8_t>(btaddr >> (8 * i));
  for (size_t i = 0; i < kSerialPortServiceClass.size(); ++i) {
    bytes[10 + i] = kSerialPortServiceClass[i];
  }
  for (size_t i = 0; i < 4; ++i) bytes[26 + i] = static_cast<uint8_t>(kAnyRfcommPort >> (8 * i));
  return bytes;
}

}  // namespace kestro
