// The messages the benchmarks time, built once: a "printBle" call carrying a receipt of a given
// size, a "getPairedDevices" reply of 50 devices and a small "isBleConnected" call.
#ifndef KESTRO_TOOLS_BENCH_BENCH_MESSAGES_H_
#define KESTRO_TOOLS_BENCH_BENCH_MESSAGES_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine_client/codec/encodable_value.h"

namespace kestro_bench {

std::vector<uint8_t> ReceiptBytes(size_t size);
flutter::EncodableValue PrintArguments(const std::vector<uint8_t>& receipt);
flutter::EncodableValue DeviceList(int count);
flutter::EncodableValue SmallArguments();
std::string DeviceAddress(int index);

}  // namespace kestro_bench

#endif  // KESTRO_TOOLS_BENCH_BENCH_MESSAGES_H_
