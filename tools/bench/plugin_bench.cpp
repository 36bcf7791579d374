// The printer plug-in's path from the message bytes of a "printBle" call to the socket's send,
// over the simulated stack with a connection already open (compare with BM_Memcpy/1048576).
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "engine_client/codec/standard_method_codec.h"
#include "standins/bluetooth/simulated_bluetooth_stack.h"
#include "tests/fakes/recording_engine.h"
#include "thermal_printer/thermal_printer_plugin.h"
#include "tools/bench/bench_messages.h"

namespace {

using flutter::EncodableValue;

constexpr char kChannel[] = "com.kestro.pos/thermal_printer";

std::vector<uint8_t> Call(const char* name, EncodableValue arguments) {
  flutter::MethodCall<EncodableValue> call(name,
                                           std::make_unique<EncodableValue>(std::move(arguments)));
  return *flutter::StandardMethodCodec::ForSerializer().EncodeCall(call);
}

void BM_PluginPrintToSend(benchmark::State& state) {
  kestro::SetBluetoothStackFactoryForTesting([] {
    auto stack = std::make_unique<kestro_test::SimulatedBluetoothStack>();
    kestro_test::PrinterBehaviour printer;
    printer.keep_bytes = false;  // a socket hands the bytes on; it does not keep them
    stack->SetPrinter(0xAABBCCDDEEFFull, printer);
    return stack;
  });
  auto engine = std::make_unique<kestro_test::RecordingEngine>();
  ThermalPrinterPluginRegisterWithRegistrar(engine->registrar());
  engine->Deliver(kChannel, Call("setup", EncodableValue()));

  const auto message = Call("printBle", kestro_bench::PrintArguments(kestro_bench::ReceiptBytes(
                                            static_cast<size_t>(state.range(0)))));
  const auto success = *flutter::StandardMethodCodec::ForSerializer().EncodeSuccessReply(
      std::make_unique<EncodableValue>(true).get());
  if (engine->Deliver(kChannel, message).responses.at(0) != success) {
    state.SkipWithError("the first print job did not succeed");
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(engine->Deliver(kChannel, message));
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));

  kestro::ResetThermalPrinterPluginForTesting();
  kestro::SetBluetoothStackFactoryForTesting(nullptr);
}

}  // namespace

BENCHMARK(BM_PluginPrintToSend)->Arg(1 << 20);
