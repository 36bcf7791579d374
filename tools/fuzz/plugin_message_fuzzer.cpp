// The printer plug-in answers every message exactly once, whatever its bytes, with a simulated
// Bluetooth stack behind it and a recording engine in front; the fuzzer's thread plays the UI
// thread and drains the bridge's workers after each message.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "standins/bluetooth/simulated_bluetooth_stack.h"
#include "tests/fakes/recording_engine.h"
#include "thermal_printer/thermal_printer_plugin.h"
#include "tools/fuzz/fuzz_support.h"

namespace {

constexpr char kChannel[] = "com.kestro.pos/thermal_printer";
// The recording engine and the simulated stack keep every call; start them afresh now and then
// so a long run does not grow without bound.
constexpr int kMessagesPerEngine = 2000;

std::unique_ptr<kestro_test::RecordingEngine> engine;
kestro::QueuedUiThreadHandoff* handoff = nullptr;  // owned by the plug-in
std::unique_ptr<kestro::ThermalPrinterPlugin> plugin;
int messages = 0;

std::unique_ptr<kestro::BluetoothStack> NewStack() {
  auto stack = std::make_unique<kestro_standin::SimulatedBluetoothStack>();
  kestro_standin::PrinterBehaviour printer;
  printer.keep_bytes = false;
  printer.max_part = 100;
  stack->SetPrinter(0xAABBCCDDEEFFull, printer);
  kestro_standin::PrinterBehaviour refusing;
  refusing.connect_error = 10061;
  stack->SetPrinter(0x001122334455ull, refusing);
  stack->AddDevice({0xAABBCCDDEEFFull, u"Принтер", 0x040680, false, true, true});
  return stack;
}

void FreshEngine() {
  plugin.reset();
  engine.reset();
  engine = std::make_unique<kestro_test::RecordingEngine>();
  auto queue = std::make_unique<kestro::QueuedUiThreadHandoff>();
  handoff = queue.get();
  plugin = std::make_unique<kestro::ThermalPrinterPlugin>(
      FlutterDesktopPluginRegistrarGetMessenger(engine->registrar()), std::move(queue), NewStack);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (messages++ % kMessagesPerEngine == 0) {
    kestro_fuzz::SilenceDiagnostics();
    FreshEngine();
  }
  const auto delivery = engine->Deliver(kChannel, std::vector<uint8_t>(data, data + size));
  if (!delivery.delivered) kestro_fuzz::Fail("the plug-in's callback is not installed");
  plugin->WaitUntilIdle();
  handoff->Drain();
  if (engine->ResponsesTo(delivery.handle).size() != 1) {
    kestro_fuzz::Fail("a message was not answered exactly once");
  }
  if (!engine->faults().empty()) kestro_fuzz::Fail("the engine saw a misused handle");
  return 0;
}
