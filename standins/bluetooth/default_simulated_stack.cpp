// kestro_pos_simulated.exe's Bluetooth: the simulated stack in the world that
// simulated_bluetooth.txt beside the executable describes, on the wall clock, appending what
// each printer accepts to printers/<address>.bin beside the executable.
#include <windows.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "engine_client/codec/stderr_line.h"
#include "standins/bluetooth/simulated_bluetooth_stack.h"
#include "standins/bluetooth/simulated_world.h"
#include "thermal_printer/default_bluetooth_stack.h"
#include "win/files.h"
#include "win/scoped_handle.h"
#include "win/text.h"

namespace kestro_standin {
namespace {

void AppendToFile(const std::wstring& path, const uint8_t* data, size_t size) {
  const kestro::ScopedHandle file(::CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ,
                                                nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                                nullptr));
  if (!file.IsValid()) return;
  DWORD written = 0;
  ::WriteFile(file.Get(), data, static_cast<DWORD>(size), &written, nullptr);
}

// A missing file leaves the stack as it starts: a radio and no devices. A malformed one is
// refused with one line on standard error, and the radio is then absent.
void LoadWorld(const std::wstring& path, SimulatedBluetoothStack* stack) {
  const std::optional<std::string> text = kestro::ReadWholeFile(path);
  if (!text) return;
  SimulatedWorld world;
  WorldError error;
  if (!ParseSimulatedWorld(*text, &world, &error)) {
    kestro::WriteStderrLine(std::string(kSimulatedBluetoothMarker) + ": " +
                            kestro::Utf16ToUtf8(path) + " line " + std::to_string(error.line) +
                            ": " + error.what + "; the simulated radio is off");
    stack->SetRadioPresent(false);
    return;
  }
  ApplySimulatedWorld(world, stack);
}

// Owns the simulated stack; log timestamps come from the wall clock, as on a real machine.
class SimulatedWorldStack : public kestro::BluetoothStackWrapper {
 public:
  explicit SimulatedWorldStack(std::unique_ptr<SimulatedBluetoothStack> stack)
      : BluetoothStackWrapper(stack.get()), stack_(std::move(stack)) {}

  int64_t SystemTimeTicks() override {
    using Ticks = std::chrono::duration<int64_t, std::ratio<1, 10000000>>;
    return std::chrono::duration_cast<Ticks>(std::chrono::system_clock::now().time_since_epoch())
        .count();
  }

 private:
  std::unique_ptr<SimulatedBluetoothStack> stack_;
};

}  // namespace
}  // namespace kestro_standin

std::unique_ptr<kestro::BluetoothStack> kestro::NewDefaultBluetoothStack() {
  const std::wstring folder = kestro::ExecutableFolder();
  auto stack = std::make_unique<kestro_standin::SimulatedBluetoothStack>();
  kestro_standin::LoadWorld(folder + L"\\simulated_bluetooth.txt", stack.get());
  const std::wstring printers = folder + L"\\printers";
  stack->SetAcceptedBytesSink([printers](uint64_t address, const uint8_t* data, size_t size) {
    ::CreateDirectoryW(printers.c_str(), nullptr);
    const std::string name = kestro_standin::AddressFileName(address);
    kestro_standin::AppendToFile(printers + L"\\" + kestro::Utf8ToUtf16(name) + L".bin", data,
                                 size);
  });
  return std::make_unique<kestro_standin::SimulatedWorldStack>(std::move(stack));
}
