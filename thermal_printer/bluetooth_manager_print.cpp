// Print jobs: one buffer of raw printer bytes over the address's (possibly new) connection.
#include <limits>

#include "thermal_printer/bluetooth_address.h"
#include "thermal_printer/bluetooth_manager.h"

namespace kestro {

bool BluetoothManager::PrintBytes(const NormalizedAddress& address,
                                  const std::vector<uint8_t>& bytes,
                                  const std::string& printer_uuid, const std::string& job_uuid) {
  return PrintBytes(address, bytes.data(), bytes.size(), printer_uuid, job_uuid);
}

bool BluetoothManager::PrintBytes(const NormalizedAddress& normalized, const uint8_t* data,
                                  size_t size, const std::string& printer_uuid,
                                  const std::string& job_uuid) {
  const std::string& address = normalized.text();
  Log("BluetoothManager: Printing " + std::to_string(size) + " bytes to " + address);
  const std::shared_ptr<std::mutex> device_mutex = GetDeviceLock(address);
  std::lock_guard<std::mutex> device_lock(*device_mutex);

  Connection connection = FindConnection(address);
  if (connection.socket == kInvalidSocket) {
    const uint64_t numeric = ParseMacAddress(address);
    if (numeric == 0) {
      Log("BluetoothManager: Invalid MAC address for print: " + address);
      SendPrintFailed(job_uuid, "Invalid MAC address");
      return false;
    }
    const SocketHandle socket = CreateRfcommSocket(numeric);
    if (socket == kInvalidSocket) {
      Log("BluetoothManager: Failed to connect for print");
      SendPrintFailed(job_uuid, "Connection failed");
      return false;
    }
    connection = StoreConnection(address, socket);
  }

  uint64_t sent = 0;
  int32_t error = 0;
  if (!SendAll(connection.socket, data, size, &sent, &error)) {
    Log("BluetoothManager: Send failed with error: " + std::to_string(error));
    // A Disconnect or Dispose that took the entry meanwhile has closed the socket already, and
    // its handle may belong to another printer by now.
    const SocketHandle taken = TakeConnection(address, connection);
    if (taken != kInvalidSocket) stack_->CloseSocket(taken);
    SendPrintFailed(job_uuid, "Send failed: " + std::to_string(error));
    return false;
  }
  Log("BluetoothManager: Print successful, sent " + std::to_string(sent) + " bytes");
  flutter::EncodableValueMap event;
  event[flutter::EncodableValue(std::string("jobUuid"))] = flutter::EncodableValue(job_uuid);
  event[flutter::EncodableValue(std::string("printerUuid"))] =
      flutter::EncodableValue(printer_uuid);
  SendEvent("onPrintSuccessWindows", flutter::EncodableValue(std::move(event)));
  return true;
}

bool BluetoothManager::SendAll(SocketHandle socket, const uint8_t* data, size_t size,
                               uint64_t* sent, int32_t* error) {
  constexpr uint64_t kMaxSend = static_cast<uint64_t>(std::numeric_limits<int32_t>::max());
  *sent = 0;
  while (*sent < size) {
    const uint64_t remaining = size - *sent;
    const int32_t length = static_cast<int32_t>(remaining < kMaxSend ? remaining : kMaxSend);
    const int32_t result = stack_->Send(socket, data + *sent, length, 0);
    // Nothing taken while bytes remain would only repeat forever.
    if (result <= 0) {
      *error = stack_->LastSocketError();
      return false;
    }
    *sent += static_cast<uint64_t>(result);
  }
  return true;
}

void BluetoothManager::SendPrintFailed(const std::string& job_uuid, const std::string& error) {
  flutter::EncodableValueMap event;
  event[flutter::EncodableValue(std::string("jobUuid"))] = flutter::EncodableValue(job_uuid);
  event[flutter::EncodableValue(std::string("error"))] = flutter::EncodableValue(error);
  SendEvent("onPrintFailedWindows", flutter::EncodableValue(std::move(event)));
}

}  // namespace kestro
