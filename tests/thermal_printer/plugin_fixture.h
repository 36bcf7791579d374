// The plug-in registered with the recording engine, with the simulated stack behind its manager,
// and the encoded calls its tests send: shared by the dispatch tests and the worker tests.
#ifndef KESTRO_TESTS_THERMAL_PRINTER_PLUGIN_FIXTURE_H_
#define KESTRO_TESTS_THERMAL_PRINTER_PLUGIN_FIXTURE_H_

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <string>
#include <utility>

#include "engine_client/codec/standard_method_codec.h"
#include "tests/fakes/recording_engine.h"
#include "tests/thermal_printer/manager_fixture.h"
#include "thermal_printer/thermal_printer_plugin.h"

namespace kestro_test {

constexpr char kChannel[] = "com.kestro.pos/thermal_printer";

inline std::unique_ptr<flutter::EncodableValue> Map(
    std::initializer_list<std::pair<const char*, flutter::EncodableValue>> entries) {
  flutter::EncodableValueMap map;
  for (const auto& entry : entries) map[flutter::EncodableValue(entry.first)] = entry.second;
  return std::make_unique<flutter::EncodableValue>(std::move(map));
}

inline Bytes EncodeCall(const std::string& method,
                        std::unique_ptr<flutter::EncodableValue> arguments = nullptr) {
  flutter::MethodCall<flutter::EncodableValue> call(method, std::move(arguments));
  return *flutter::StandardMethodCodec::ForSerializer().EncodeCall(call);
}

// A call for one printer: its address and, when there are any, the bytes to print.
inline Bytes PrinterCall(const std::string& method, const std::string& address, Bytes bytes = {}) {
  auto arguments = Map({{"macAddress", flutter::EncodableValue(address)}});
  if (!bytes.empty()) {
    std::get<flutter::EncodableValueMap>(*arguments)[flutter::EncodableValue("bytes")] =
        flutter::EncodableValue(std::move(bytes));
  }
  return EncodeCall(method, std::move(arguments));
}

// The plug-in on the recording engine's messenger, with this thread as its UI thread; "setup"
// makes its manager on the simulated stack.
class PluginFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    auto handoff = std::make_unique<kestro::QueuedUiThreadHandoff>();
    handoff_ = handoff.get();
    plugin_ = std::make_unique<kestro::ThermalPrinterPlugin>(
        FlutterDesktopPluginRegistrarGetMessenger(engine_.registrar()), std::move(handoff), [this] {
          ++stacks_made_;
          return std::make_unique<kestro::BluetoothStackWrapper>(&stack_);
        });
    EXPECT_EQ(log_.TakeLines(), Lines{"ThermalPrinterPlugin: Registered"});
  }
  void TearDown() override {
    ExitProcess();
    EXPECT_EQ(engine_.faults(), Lines{});
    EXPECT_EQ(stack_.faults(), Lines{});
  }

  // Waits until no work waits or runs (unless wait_until_idle is false), then runs on this thread
  // every reply and event the workers handed over so far, in order.
  void Drain(bool wait_until_idle = true) {
    if (wait_until_idle) plugin_->WaitUntilIdle();
    handoff_->Drain();
  }
  // What process exit does, the manager's last events still reaching the engine as they would
  // from this thread; then the plug-in goes. Idempotent.
  void ExitProcess() {
    if (!plugin_) return;
    plugin_->FinishAtExit();
    handoff_->Drain();
    plugin_.reset();
  }

  SimulatedBluetoothStack stack_;
  DebugCapture log_;
  RecordingEngine engine_;
  int stacks_made_ = 0;  // written by whichever thread runs "setup", read after draining
  kestro::QueuedUiThreadHandoff* handoff_ = nullptr;  // owned by the plug-in
  std::unique_ptr<kestro::ThermalPrinterPlugin> plugin_;
};

}  // namespace kestro_test

#endif  // KESTRO_TESTS_THERMAL_PRINTER_PLUGIN_FIXTURE_H_
