// Codec throughput beside its limit (memcpy of the same bytes) and beside msgpack-c decoding
// into owning standard containers, the alternative a developer would reach for.
#include <benchmark/benchmark.h>

#include <msgpack.hpp>

#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "engine_client/codec/byte_streams.h"
#include "engine_client/codec/standard_codec_serializer.h"
#include "engine_client/codec/standard_method_codec.h"
#include "tools/bench/bench_messages.h"

namespace {

using flutter::EncodableValue;
using flutter::MethodCall;

const flutter::StandardMethodCodec& Codec() {
  return flutter::StandardMethodCodec::ForSerializer();
}

struct PrintJob {
  std::string macAddress, printerUuid, jobUuid;
  std::vector<char> bytes;
  MSGPACK_DEFINE_MAP(macAddress, printerUuid, jobUuid, bytes)
};
struct Device {
  std::string deviceName, macAddress;
  int32_t majDeviceCl = 0, deviceCl = 0;
  bool isPaired = false, isConnected = false;
  MSGPACK_DEFINE_MAP(deviceName, macAddress, majDeviceCl, deviceCl, isPaired, isConnected)
};
struct StatusQuery {
  std::string macAddress;
  MSGPACK_DEFINE_MAP(macAddress)
};

PrintJob MsgpackJob(const std::vector<uint8_t>& receipt) {
  return {"AA:BB:CC:DD:EE:FF", "5a0c1e7e-printer-0001", "0b7d2f4a-job-000000042",
          std::vector<char>(receipt.begin(), receipt.end())};
}

std::vector<Device> MsgpackDevices(int count) {
  std::vector<Device> devices;
  for (int i = 0; i < count; ++i) {
    devices.push_back({"Receipt printer " + std::to_string(i), kestro_bench::DeviceAddress(i), 6,
                       0x040680, true, i % 3 == 0});
  }
  return devices;
}

template <typename T>
msgpack::sbuffer MsgpackPack(const T& value) {
  msgpack::sbuffer buffer;
  msgpack::pack(buffer, value);
  return buffer;
}

template <typename T>
T MsgpackUnpack(const msgpack::sbuffer& buffer) {
  msgpack::object_handle handle = msgpack::unpack(buffer.data(), buffer.size());
  return handle.get().as<T>();
}

std::vector<uint8_t> EncodedCall(const char* name, EncodableValue arguments) {
  MethodCall<EncodableValue> call(name, std::make_unique<EncodableValue>(std::move(arguments)));
  return *Codec().EncodeCall(call);
}

void BM_Memcpy(benchmark::State& state) {
  const auto source = kestro_bench::ReceiptBytes(static_cast<size_t>(state.range(0)));
  std::vector<uint8_t> target(source.size());
  for (auto _ : state) {
    std::memcpy(target.data(), source.data(), source.size());
    benchmark::DoNotOptimize(target.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_DecodePrintBle(benchmark::State& state) {
  const auto message =
      EncodedCall("printBle", kestro_bench::PrintArguments(
                                  kestro_bench::ReceiptBytes(static_cast<size_t>(state.range(0)))));
  for (auto _ : state) {
    auto call = Codec().DecodeCall(message.data(), message.size());
    benchmark::DoNotOptimize(call);
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_EncodePrintBle(benchmark::State& state) {
  const MethodCall<EncodableValue> call(
      "printBle", std::make_unique<EncodableValue>(kestro_bench::PrintArguments(
                      kestro_bench::ReceiptBytes(static_cast<size_t>(state.range(0))))));
  for (auto _ : state) benchmark::DoNotOptimize(Codec().EncodeCall(call));
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_MsgpackDecodePrintBle(benchmark::State& state) {
  const auto buffer = MsgpackPack(
      std::make_tuple(std::string("printBle"),
                      MsgpackJob(kestro_bench::ReceiptBytes(static_cast<size_t>(state.range(0))))));
  for (auto _ : state) {
    benchmark::DoNotOptimize(MsgpackUnpack<std::tuple<std::string, PrintJob>>(buffer));
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_MsgpackEncodePrintBle(benchmark::State& state) {
  const auto message =
      std::make_tuple(std::string("printBle"),
                      MsgpackJob(kestro_bench::ReceiptBytes(static_cast<size_t>(state.range(0)))));
  for (auto _ : state) benchmark::DoNotOptimize(MsgpackPack(message));
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_DecodeDeviceList(benchmark::State& state) {
  const auto devices = kestro_bench::DeviceList(50);
  const auto reply = *Codec().EncodeSuccessReply(&devices);
  // Looks at the delivered tree without copying it, as a real receiver would.
  struct Keep : flutter::MethodResult<EncodableValue> {
    size_t value = 0;
    void Success(const EncodableValue* result) override { value += result->index(); }
    void Error(const std::string&, const std::string&, const EncodableValue*) override {}
    void NotImplemented() override {}
  } result;
  for (auto _ : state) {
    Codec().DecodeReplyInto(reply.data(), reply.size(), &result);
    benchmark::DoNotOptimize(result.value);
  }
}

void BM_EncodeDeviceList(benchmark::State& state) {
  const auto devices = kestro_bench::DeviceList(50);
  for (auto _ : state) benchmark::DoNotOptimize(Codec().EncodeSuccessReply(&devices));
}

void BM_MsgpackDecodeDeviceList(benchmark::State& state) {
  const auto buffer = MsgpackPack(MsgpackDevices(50));
  for (auto _ : state) benchmark::DoNotOptimize(MsgpackUnpack<std::vector<Device>>(buffer));
}

void BM_MsgpackEncodeDeviceList(benchmark::State& state) {
  const auto devices = MsgpackDevices(50);
  for (auto _ : state) benchmark::DoNotOptimize(MsgpackPack(devices));
}

void BM_DecodeSmallCall(benchmark::State& state) {
  const auto message = EncodedCall("isBleConnected", kestro_bench::SmallArguments());
  for (auto _ : state) benchmark::DoNotOptimize(Codec().DecodeCall(message.data(), message.size()));
}

void BM_EncodeSmallCall(benchmark::State& state) {
  const MethodCall<EncodableValue> call(
      "isBleConnected", std::make_unique<EncodableValue>(kestro_bench::SmallArguments()));
  for (auto _ : state) benchmark::DoNotOptimize(Codec().EncodeCall(call));
}

void BM_MsgpackDecodeSmallCall(benchmark::State& state) {
  const auto buffer =
      MsgpackPack(std::make_tuple(std::string("isBleConnected"), StatusQuery{"AA:BB:CC:DD:EE:FF"}));
  for (auto _ : state) {
    benchmark::DoNotOptimize(MsgpackUnpack<std::tuple<std::string, StatusQuery>>(buffer));
  }
}

void BM_MsgpackEncodeSmallCall(benchmark::State& state) {
  const auto message =
      std::make_tuple(std::string("isBleConnected"), StatusQuery{"AA:BB:CC:DD:EE:FF"});
  for (auto _ : state) benchmark::DoNotOptimize(MsgpackPack(message));
}

// Maps arrive with ascending keys from any standard-codec writer; decoding must stay linear.
void BM_DecodeAscendingMap(benchmark::State& state) {
  flutter::EncodableValueMap map;
  for (int64_t i = 0; i < state.range(0); ++i) {
    map.emplace(EncodableValue(static_cast<int32_t>(i)), EncodableValue(i));
  }
  std::vector<uint8_t> bytes;
  flutter::ByteBufferStreamWriter writer(&bytes);
  flutter::StandardCodecSerializer::Shared().WriteValue(EncodableValue(std::move(map)), &writer);
  for (auto _ : state) {
    flutter::ByteBufferStreamReader reader(bytes.data(), bytes.size());
    benchmark::DoNotOptimize(flutter::StandardCodecSerializer::Shared().ReadNextValue(&reader));
  }
  state.SetComplexityN(state.range(0));
}

constexpr int64_t kSizes[] = {2 << 10, 64 << 10, 1 << 20};

void BulkSizes(benchmark::internal::Benchmark* b) {
  for (int64_t size : kSizes) b->Arg(size);
}

}  // namespace

BENCHMARK(BM_Memcpy)->Apply(BulkSizes);
BENCHMARK(BM_DecodePrintBle)->Apply(BulkSizes);
BENCHMARK(BM_EncodePrintBle)->Apply(BulkSizes);
BENCHMARK(BM_MsgpackDecodePrintBle)->Apply(BulkSizes);
BENCHMARK(BM_MsgpackEncodePrintBle)->Apply(BulkSizes);
BENCHMARK(BM_DecodeDeviceList);
BENCHMARK(BM_EncodeDeviceList);
BENCHMARK(BM_MsgpackDecodeDeviceList);
BENCHMARK(BM_MsgpackEncodeDeviceList);
BENCHMARK(BM_DecodeSmallCall);
BENCHMARK(BM_EncodeSmallCall);
BENCHMARK(BM_MsgpackDecodeSmallCall);
BENCHMARK(BM_MsgpackEncodeSmallCall);
BENCHMARK(BM_DecodeAscendingMap)->RangeMultiplier(4)->Range(1 << 10, 1 << 16)->Complexity();

BENCHMARK_MAIN();
