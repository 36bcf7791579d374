// Construction, Winsock start and stop, the log and event path, the address locks.
#include "thermal_printer/bluetooth_manager.h"

#include <utility>

#include "thermal_printer/debug_output.h"

namespace kestro {

BluetoothManager::BluetoothManager(std::shared_ptr<flutter::MethodChannel> channel,
                                   std::unique_ptr<BluetoothStack> stack, LinkDeadlines deadlines,
                                   std::function<bool()> abandon)
    : channel_(std::move(channel)),
      stack_(std::move(stack)),
      deadlines_(deadlines),
      abandon_(std::move(abandon)) {}

BluetoothManager::~BluetoothManager() { Dispose(); }

void BluetoothManager::Initialize() {
  Log("BluetoothManager: Initializing...");
  if (!initialized_) {
    const int32_t result = stack_->StartWinsock(kWinsockVersion22);
    if (result != 0) {
      Log("BluetoothManager: WSAStartup failed with error: " + std::to_string(result));
      return;
    }
    initialized_ = true;
    Log("BluetoothManager: WSAStartup successful");
  }
  Log("BluetoothManager: Initialized successfully");
}

void BluetoothManager::Dispose() {
  Log("BluetoothManager: Disposing...");
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& entry : connections_) {
      // Nothing else runs meanwhile; were a user left, it would close the socket itself.
      entry.second->detached = true;
      if (entry.second->users == 0) stack_->CloseSocket(entry.second->socket);
    }
    connections_.clear();
    // A running job keeps its own share of its address's lock.
    device_locks_.clear();
  }
  if (initialized_) {
    stack_->CleanupWinsock();
    initialized_ = false;
  }
  Log("BluetoothManager: Disposed");
}

void BluetoothManager::Log(const std::string& text) {
  WriteDebugOutput(text + "\n");
  if (!channel_) return;
  // Ticks are 100 ns; truncated to whole milliseconds.
  const int64_t timestamp = stack_->SystemTimeTicks() / 10000;
  flutter::EncodableValueMap event;
  event[flutter::EncodableValue(std::string("message"))] = flutter::EncodableValue(text);
  event[flutter::EncodableValue(std::string("timestamp"))] = flutter::EncodableValue(timestamp);
  SendEvent("onLogMessage", flutter::EncodableValue(std::move(event)));
}

void BluetoothManager::SendEvent(const std::string& name,
                                 const flutter::EncodableValue& arguments) {
  if (!channel_) return;
  channel_->InvokeMethod(name, std::make_unique<flutter::EncodableValue>(arguments));
}

std::shared_ptr<std::mutex> BluetoothManager::GetDeviceLock(const std::string& address) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::shared_ptr<std::mutex>& device_lock = device_locks_[address];
  if (!device_lock) device_lock = std::make_shared<std::mutex>();
  return device_lock;
}

}  // namespace kestro
