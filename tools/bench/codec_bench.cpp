// Codec throughput beside its limit (memcpy of the same bytes) and beside msgpack-c, the
// alternative a developer would reach for: equivalent dynamic trees (msgpack::type::variant over
// std::string, std::vector and std::multimap) and, as the strongest baseline, fixed structs.
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

using Tree = msgpack::type::variant;
using TreeMap = std::multimap<Tree, Tree>;

Tree TreeText(const std::string& text) { return Tree(text); }

Tree TreePrintCall(const std::vector<uint8_t>& receipt) {
  TreeMap arguments{{TreeText("macAddress"), TreeText("AA:BB:CC:DD:EE:FF")},
                    {TreeText("printerUuid"), TreeText("5a0c1e7e-printer-0001")},
                    {TreeText("jobUuid"), TreeText("0b7d2f4a-job-000000042")},
                    {TreeText("bytes"), Tree(std::vector<char>(receipt.begin(), receipt.end()))}};
  return Tree(std::vector<Tree>{TreeText("printBle"), Tree(std::move(arguments))});
}

Tree TreeDevices(int count) {
  std::vector<Tree> devices;
  for (int i = 0; i < count; ++i) {
    devices.emplace_back(
        TreeMap{{TreeText("deviceName"), TreeText("Receipt printer " + std::to_string(i))},
                {TreeText("macAddress"), TreeText(kestro_bench::DeviceAddress(i))},
                {TreeText("majDeviceCl"), Tree(6)},
                {TreeText("deviceCl"), Tree(0x040680)},
                {TreeText("isPaired"), Tree(true)},
                {TreeText("isConnected"), Tree(i % 3 == 0)}});
  }
  return Tree(std::move(devices));
}

Tree TreeSmallCall() {
  return Tree(
      std::vector<Tree>{TreeText("isBleConnected"),
                        Tree(TreeMap{{TreeText("macAddress"), TreeText("AA:BB:CC:DD:EE:FF")}})});
}

void TimeTreeDecode(benchmark::State& state, const Tree& tree) {
  const auto buffer = MsgpackPack(tree);
  for (auto _ : state) benchmark::DoNotOptimize(MsgpackUnpack<Tree>(buffer));
}

void TimeTreeEncode(benchmark::State& state, const Tree& tree) {
  for (auto _ : state) benchmark::DoNotOptimize(MsgpackPack(tree));
}

void BM_MsgpackTreeDecodePrintBle(benchmark::State& state) {
  TimeTreeDecode(state, TreePrintCall(kestro_bench::ReceiptBytes(state.range(0))));
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
void BM_MsgpackTreeEncodePrintBle(benchmark::State& state) {
  TimeTreeEncode(state, TreePrintCall(kestro_bench::ReceiptBytes(state.range(0))));
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
void BM_MsgpackTreeDecodeDeviceList(benchmark::State& state) {
  TimeTreeDecode(state, TreeDevices(50));
}
void BM_MsgpackTreeEncodeDeviceList(benchmark::State& state) {
  TimeTreeEncode(state, TreeDevices(50));
}
void BM_MsgpackTreeDecodeSmallCall(benchmark::State& state) {
  TimeTreeDecode(state, TreeSmallCall());
}
void BM_MsgpackTreeEncodeSmallCall(benchmark::State& state) {
  TimeTreeEncode(state, TreeSmallCall());
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

void BM_MsgpackStructDecodePrintBle(benchmark::State& state) {
  const auto buffer = MsgpackPack(
      std::make_tuple(std::string("printBle"),
                      MsgpackJob(kestro_bench::ReceiptBytes(static_cast<size_t>(state.range(0))))));
  for (auto _ : state) {
    benchmark::DoNotOptimize(MsgpackUnpack<std::tuple<std::string, PrintJob>>(buffer));
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_MsgpackStructEncodePrintBle(benchmark::State& state) {
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

void BM_MsgpackStructDecodeDeviceList(benchmark::State& state) {
  const auto buffer = MsgpackPack(MsgpackDevices(50));
  for (auto _ : state) benchmark::DoNotOptimize(MsgpackUnpack<std::vector<Device>>(buffer));
}

void BM_MsgpackStructEncodeDeviceList(benchmark::State& state) {
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

void BM_MsgpackStructDecodeSmallCall(benchmark::State& state) {
  const auto buffer =
      MsgpackPack(std::make_tuple(std::string("isBleConnected"), StatusQuery{"AA:BB:CC:DD:EE:FF"}));
  for (auto _ : state) {
    benchmark::DoNotOptimize(MsgpackUnpack<std::tuple<std::string, StatusQuery>>(buffer));
  }
}

void BM_MsgpackStructEncodeSmallCall(benchmark::State& state) {
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
BENCHMARK(BM_MsgpackStructDecodePrintBle)->Apply(BulkSizes);
BENCHMARK(BM_MsgpackStructEncodePrintBle)->Apply(BulkSizes);
BENCHMARK(BM_DecodeDeviceList);
BENCHMARK(BM_EncodeDeviceList);
BENCHMARK(BM_MsgpackStructDecodeDeviceList);
BENCHMARK(BM_MsgpackStructEncodeDeviceList);
BENCHMARK(BM_DecodeSmallCall);
BENCHMARK(BM_EncodeSmallCall);
BENCHMARK(BM_MsgpackStructDecodeSmallCall);
BENCHMARK(BM_MsgpackStructEncodeSmallCall);
BENCHMARK(BM_MsgpackTreeDecodePrintBle)->Apply(BulkSizes);
BENCHMARK(BM_MsgpackTreeEncodePrintBle)->Apply(BulkSizes);
BENCHMARK(BM_MsgpackTreeDecodeDeviceList);
BENCHMARK(BM_MsgpackTreeEncodeDeviceList);
BENCHMARK(BM_MsgpackTreeDecodeSmallCall);
BENCHMARK(BM_MsgpackTreeEncodeSmallCall);
BENCHMARK(BM_DecodeAscendingMap)->RangeMultiplier(4)->Range(1 << 10, 1 << 16)->Complexity();

BENCHMARK_MAIN();
