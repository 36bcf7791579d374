// kestro_pos_simulated.exe's Bluetooth: the simulated stack in the world that
// simulated_bluetooth.txt beside the executable describes, on the wall clock, appending what
// each printer accepts to printers/<address>.bin beside the executable.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "standins/bluetooth/simulated_bluetooth_stack.h"
#include "standins/bluetooth/simulated_world.h"
#include "thermal_printer/default_bluetooth_stack.h"

namespace kestro_test {
namespace {

std::wstring ExecutableFolder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);
  }
  return path.substr(0, path.find_last_of(L"\\/"));
}

std::string Utf8(const std::wstring& text) {
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(size > 0 ? size : 0), '\0');
  if (size > 0) {
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &utf8[0], size,
                          nullptr, nullptr);
  }
  return utf8;
}

// The file's bytes; nothing when it does not exist.
std::optional<std::string> ReadWholeFile(const std::wstring& path) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  std::string text;
  char buffer[4096];
  DWORD read = 0;
  while (::ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) {
    text.append(buffer, read);
  }
  ::CloseHandle(file);
  return text;
}

void AppendToFile(const std::wstring& path, const uint8_t* data, size_t size) {
  HANDLE file = ::CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  ::WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr);
  ::CloseHandle(file);
}

// A missing file leaves the stack as it starts: a radio and no devices. A malformed one is
// refused with one line on standard error, and the radio is then absent.
void LoadWorld(const std::wstring& path, SimulatedBluetoothStack* stack) {
  const std::optional<std::string> text = ReadWholeFile(path);
  if (!text) return;
  SimulatedWorld world;
  WorldError error;
  if (!ParseSimulatedWorld(*text, &world, &error)) {
    const std::string line = std::string(kSimulatedBluetoothMarker) + ": " + Utf8(path) + " line " +
                             std::to_string(error.line) + ": " + error.what +
                             "; the simulated radio is off\n";
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
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
}  // namespace kestro_test

std::unique_ptr<kestro::BluetoothStack> kestro::NewDefaultBluetoothStack() {
  const std::wstring folder = kestro_test::ExecutableFolder();
  auto stack = std::make_unique<kestro_test::SimulatedBluetoothStack>();
  kestro_test::LoadWorld(folder + L"\\simulated_bluetooth.txt", stack.get());
  const std::wstring printers = folder + L"\\printers";
  stack->SetAcceptedBytesSink([printers](uint64_t address, const uint8_t* data, size_t size) {
    ::CreateDirectoryW(printers.c_str(), nullptr);
    const std::string name = kestro_test::AddressFileName(address);
    kestro_test::AppendToFile(printers + L"\\" + std::wstring(name.begin(), name.end()) + L".bin",
                              data, size);
  });
  return std::make_unique<kestro_test::SimulatedWorldStack>(std::move(stack));
}
