// RFCOMM connections: opening one socket, and the connection table's Connect, Disconnect and
// IsConnected.
#include <cstring>

#include "thermal_printer/bluetooth_address.h"
#include "thermal_printer/bluetooth_manager.h"

namespace kestro {
namespace {

// Both socket time-outs; the connect itself waits as long as the stack allows.
constexpr int32_t kSocketTimeoutMs = 15000;

const char* ConnectErrorExplanation(int32_t code) {
  switch (code) {
    case kWsaTimedOut:
      return " (Connection timed out - printer may be off)";
    case kWsaConnectionRefused:
      return " (Connection refused - printer may not support SPP)";
    case kWsaNetworkUnreachable:
      return " (Network unreachable - Bluetooth not enabled)";
    case kWsaHostUnreachable:
      return " (Host unreachable - printer out of range)";
    case kWsaAddressNotAvailable:
      return " (Address not available - wrong MAC address)";
    case kWsaNetworkDown:
      return " (Network down - Bluetooth adapter disabled)";
    default:
      return " (Unknown error)";
  }
}

}  // namespace

SocketHandle BluetoothManager::CreateRfcommSocket(uint64_t address) {
  Log("BluetoothManager: CreateRfcommSocket for " + FormatBluetoothAddress(address));
  const SocketHandle socket =
      stack_->OpenSocket(kAddressFamilyBluetooth, kSocketTypeStream, kProtocolRfcomm);
  if (socket == kInvalidSocket) {
    const int32_t error = stack_->LastSocketError();
    Log("BluetoothManager: socket() failed with error " + std::to_string(error));
    return kInvalidSocket;
  }
  Log("BluetoothManager: Socket created successfully");

  uint8_t timeout[sizeof(kSocketTimeoutMs)];
  std::memcpy(timeout, &kSocketTimeoutMs, sizeof(timeout));
  stack_->SetSocketOption(socket, kSocketLevel, kOptionReceiveTimeout, timeout, sizeof(timeout));
  stack_->SetSocketOption(socket, kSocketLevel, kOptionSendTimeout, timeout, sizeof(timeout));

  const RfcommSocketAddress socket_address = MakeRfcommSocketAddress(address);
  Log("BluetoothManager: Attempting RFCOMM connect...");
  if (stack_->ConnectSocket(socket, socket_address.data(),
                            static_cast<int32_t>(socket_address.size())) != 0) {
    const int32_t error = stack_->LastSocketError();
    Log("BluetoothManager: connect() failed with error " + std::to_string(error) +
        ConnectErrorExplanation(error));
    stack_->CloseSocket(socket);
    return kInvalidSocket;
  }
  Log("BluetoothManager: RFCOMM connection successful!");
  return socket;
}

BluetoothManager::Connection BluetoothManager::FindConnection(const std::string& address) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto entry = connections_.find(address);
  return entry == connections_.end() ? Connection() : entry->second;
}

BluetoothManager::Connection BluetoothManager::StoreConnection(const std::string& address,
                                                               SocketHandle socket) {
  std::lock_guard<std::mutex> lock(mutex_);
  Connection& entry = connections_[address];
  if (entry.socket != kInvalidSocket) stack_->CloseSocket(entry.socket);
  entry = Connection{socket, ++last_connection_id_};
  return entry;
}

SocketHandle BluetoothManager::TakeConnection(const std::string& address,
                                              const Connection& connection) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto entry = connections_.find(address);
  if (entry == connections_.end() || entry->second.id != connection.id) return kInvalidSocket;
  connections_.erase(entry);
  return connection.socket;
}

bool BluetoothManager::Connect(const NormalizedAddress& normalized,
                               const std::string& printer_uuid) {
  static_cast<void>(printer_uuid);
  const std::string& address = normalized.text();
  Log("BluetoothManager: Connecting to " + address);
  const std::shared_ptr<std::mutex> device_mutex = GetDeviceLock(address);
  std::lock_guard<std::mutex> device_lock(*device_mutex);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto entry = connections_.find(address);
    if (entry != connections_.end() && entry->second.socket != kInvalidSocket) {
      Log("BluetoothManager: Already connected to " + address);
      return true;
    }
  }
  const uint64_t numeric = ParseMacAddress(address);
  if (numeric == 0) {
    Log("BluetoothManager: Invalid MAC address: " + address);
    return false;
  }
  const SocketHandle socket = CreateRfcommSocket(numeric);
  if (socket == kInvalidSocket) {
    Log("BluetoothManager: Failed to create RFCOMM socket");
    return false;
  }
  StoreConnection(address, socket);
  Log("BluetoothManager: Connected successfully to " + address);
  return true;
}

void BluetoothManager::Disconnect(const NormalizedAddress& normalized) {
  const std::string& address = normalized.text();
  Log("BluetoothManager: Disconnecting from " + address);
  std::lock_guard<std::mutex> lock(mutex_);
  const auto entry = connections_.find(address);
  if (entry == connections_.end()) return;
  if (entry->second.socket != kInvalidSocket) stack_->CloseSocket(entry->second.socket);
  connections_.erase(entry);
  Log("BluetoothManager: Disconnected from " + address);
}

bool BluetoothManager::IsConnected(const NormalizedAddress& address) {
  return FindConnection(address.text()).socket != kInvalidSocket;
}

}  // namespace kestro
