// The printer plug-in's path for a "printBle" call over the simulated stack with a connection
// already open: from the message bytes to the socket's send and the reply (compare with
// BM_Memcpy/1048576), and the part of it spent on the delivering (UI) thread.
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

// A registered plug-in with a manager set up and one print job answered true.
class PrintingPlugin {
 public:
  explicit PrintingPlugin(benchmark::State& state)
      : message_(Call("printBle", kestro_bench::PrintArguments(kestro_bench::ReceiptBytes(
                                      static_cast<size_t>(state.range(0)))))) {
    auto handoff = std::make_unique<kestro::QueuedUiThreadHandoff>();
    handoff_ = handoff.get();
    plugin_ = std::make_unique<kestro::ThermalPrinterPlugin>(
        FlutterDesktopPluginRegistrarGetMessenger(engine_.registrar()), std::move(handoff), [] {
          auto stack = std::make_unique<kestro_standin::SimulatedBluetoothStack>();
          kestro_standin::PrinterBehaviour printer;
          printer.keep_bytes = false;  // a socket hands the bytes on; it does not keep them
          stack->SetPrinter(0xAABBCCDDEEFFull, printer);
          return stack;
        });
    Deliver(Call("setup", EncodableValue()));
    Drain();
    const auto delivery = Deliver(message_);
    Drain();
    const auto success = *flutter::StandardMethodCodec::ForSerializer().EncodeSuccessReply(
        std::make_unique<EncodableValue>(true).get());
    if (engine_.ResponsesTo(delivery.handle) != std::vector<std::vector<uint8_t>>{success}) {
      state.SkipWithError("the first print job did not succeed");
    }
  }

  kestro_test::Delivery Deliver(const std::vector<uint8_t>& message) {
    return engine_.Deliver(kChannel, message);
  }
  const std::vector<uint8_t>& message() const { return message_; }
  // Waits for the workers, then hands their replies to this thread.
  void Drain() {
    plugin_->WaitUntilIdle();
    handoff_->Drain();
  }

 private:
  kestro_test::RecordingEngine engine_;
  std::vector<uint8_t> message_;
  kestro::QueuedUiThreadHandoff* handoff_ = nullptr;      // owned by the plug-in
  std::unique_ptr<kestro::ThermalPrinterPlugin> plugin_;  // goes before the engine
};

// The whole job: delivery, the worker's send, and the reply handed back.
void BM_PluginPrintToSend(benchmark::State& state) {
  PrintingPlugin plugin(state);
  for (auto _ : state) {
    benchmark::DoNotOptimize(plugin.Deliver(plugin.message()));
    plugin.Drain();
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

// Only the channel callback, from entry to return: what the UI thread spends on a print job.
void BM_PluginPrintOnDeliveringThread(benchmark::State& state) {
  PrintingPlugin plugin(state);
  for (auto _ : state) {
    benchmark::DoNotOptimize(plugin.Deliver(plugin.message()));
    state.PauseTiming();
    plugin.Drain();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

}  // namespace

BENCHMARK(BM_PluginPrintToSend)->Arg(1 << 20);
BENCHMARK(BM_PluginPrintOnDeliveringThread)->Arg(1 << 20)->UseRealTime();
