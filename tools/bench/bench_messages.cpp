#include "tools/bench/bench_messages.h"

#include <cstdio>

namespace kestro_bench {

using flutter::EncodableValue;
using flutter::EncodableValueMap;

std::vector<uint8_t> ReceiptBytes(size_t size) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 31 + 7);
  return bytes;
}

EncodableValue PrintArguments(const std::vector<uint8_t>& receipt) {
  return EncodableValue(EncodableValueMap{
      {EncodableValue("macAddress"), EncodableValue("AA:BB:CC:DD:EE:FF")},
      {EncodableValue("printerUuid"), EncodableValue("5a0c1e7e-printer-0001")},
      {EncodableValue("jobUuid"), EncodableValue("0b7d2f4a-job-000000042")},
      {EncodableValue("bytes"), EncodableValue(receipt)},
  });
}

std::string DeviceAddress(int index) {
  char text[18];
  std::snprintf(text, sizeof(text), "00:11:22:33:%02X:%02X", (index >> 8) & 0xFF, index & 0xFF);
  return text;
}

EncodableValue DeviceList(int count) {
  flutter::EncodableValueList devices;
  for (int i = 0; i < count; ++i) {
    devices.emplace_back(EncodableValueMap{
        {EncodableValue("deviceName"), EncodableValue("Receipt printer " + std::to_string(i))},
        {EncodableValue("macAddress"), EncodableValue(DeviceAddress(i))},
        {EncodableValue("majDeviceCl"), EncodableValue(int32_t{6})},
        {EncodableValue("deviceCl"), EncodableValue(int32_t{0x040680})},
        {EncodableValue("isPaired"), EncodableValue(true)},
        {EncodableValue("isConnected"), EncodableValue(i % 3 == 0)},
    });
  }
  return EncodableValue(std::move(devices));
}

EncodableValue SmallArguments() {
  return EncodableValue(
      EncodableValueMap{{EncodableValue("macAddress"), EncodableValue("AA:BB:CC:DD:EE:FF")}});
}

}  // namespace kestro_bench
